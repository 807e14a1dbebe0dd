// SPDX-License-Identifier: MIT
// Draws the panel's three pictures as PNG files into the folder given as the
// only argument.  Run by hand when they change; the files are kept in the
// source tree.
#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>

namespace {

const QColor kInk(40, 48, 64);
const QColor kAccent(0, 110, 180);
const QColor kWave(0, 150, 200);

QFont Font(int pixels, bool bold = false) {
  QFont f("DejaVu Sans");
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

// Banner under the tabs: the product's mark and a burst of ultrasound.
QImage Banner() {
  QImage img(257, 49, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kAccent);
  p.drawRoundedRect(QRectF(2, 6, 52, 37), 6, 6);
  p.setPen(Qt::white);
  p.setFont(Font(26, true));
  p.drawText(QRectF(2, 6, 52, 37), Qt::AlignCenter, "VX");
  p.setPen(kInk);
  p.setFont(Font(15, true));
  p.drawText(QPointF(62, 22), "Ultrasonic generator");
  p.setFont(Font(10));
  p.drawText(QPointF(62, 38), "control panel");
  QPainterPath wave;
  for (int x = 0; x <= 100; ++x) {
    const double env = std::sin(M_PI * x / 100.0);
    const QPointF pt(152 + x, 37 - 6 * env * std::sin(x * 0.9));
    x == 0 ? wave.moveTo(pt) : wave.lineTo(pt);
  }
  p.setPen(QPen(kWave, 1.6));
  p.setBrush(Qt::NoBrush);
  p.drawPath(wave);
  return img;
}

// The transducer with its horn, radiating.
QImage Transducer() {
  QImage img(97, 121, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kInk, 1.2));
  // Cable and housing.
  p.drawLine(QPointF(48, 2), QPointF(48, 12));
  p.setBrush(QColor(190, 196, 206));
  p.drawRoundedRect(QRectF(30, 12, 36, 30), 3, 3);
  // Piezo stack.
  for (int i = 0; i < 4; ++i) {
    p.setBrush(i % 2 ? QColor(200, 150, 60) : QColor(120, 120, 130));
    p.drawRect(QRectF(32, 42 + i * 5, 32, 5));
  }
  // Horn narrowing to the tip.
  QPainterPath horn;
  horn.moveTo(30, 62);
  horn.lineTo(66, 62);
  horn.cubicTo(66, 78, 56, 80, 56, 92);
  horn.lineTo(40, 92);
  horn.cubicTo(40, 80, 30, 78, 30, 62);
  p.setBrush(QColor(170, 180, 196));
  p.drawPath(horn);
  // Waves from the tip.
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) {
    p.setPen(QPen(kWave, 1.6 - i * 0.3));
    const double r = 8 + i * 7;
    p.drawArc(QRectF(48 - r, 92 - r + 4, 2 * r, 2 * r), 200 * 16, 140 * 16);
  }
  return img;
}

// A 9-pin D-sub seen from its mating side, pins numbered, with the used pins
// marked; returns the centres of the nine pins.
std::vector<QPointF> DSub(QPainter& p, QPointF centre, const QString& title, const QString& kind, bool female) {
  const double w = 120, h = 44;
  QPainterPath shell;
  shell.moveTo(centre.x() - w / 2, centre.y() - h / 2);
  shell.lineTo(centre.x() + w / 2, centre.y() - h / 2);
  shell.lineTo(centre.x() + w / 2 - 10, centre.y() + h / 2);
  shell.lineTo(centre.x() - w / 2 + 10, centre.y() + h / 2);
  shell.closeSubpath();
  p.setPen(QPen(kInk, 1.4));
  p.setBrush(QColor(215, 220, 228));
  p.drawPath(shell);
  std::vector<QPointF> pins;
  for (int i = 0; i < 5; ++i) pins.emplace_back(centre.x() - 40 + i * 20, centre.y() - 8);
  for (int i = 0; i < 4; ++i) pins.emplace_back(centre.x() - 30 + i * 20, centre.y() + 10);
  p.setFont(Font(8));
  for (size_t i = 0; i < pins.size(); ++i) {
    const bool used = i == 1 || i == 2 || i == 4;
    p.setPen(QPen(kInk, 1));
    p.setBrush(used ? QColor(230, 170, 40) : (female ? QColor(250, 250, 250) : QColor(160, 160, 170)));
    p.drawEllipse(pins[i], 5, 5);
    p.setPen(kInk);
    p.drawText(QRectF(pins[i].x() - 6, pins[i].y() - 5, 12, 10), Qt::AlignCenter, QString::number(i + 1));
  }
  // The wires leave the generator downwards and reach the computer from
  // above: the captions go on the free side.
  const double top = female ? centre.y() - h / 2 - 34 : centre.y() + h / 2 + 4;
  p.setFont(Font(11, true));
  p.drawText(QRectF(centre.x() - 128, top, 256, 16), Qt::AlignCenter, title);
  p.setFont(Font(9));
  p.drawText(QRectF(centre.x() - 128, top + 15, 256, 14), Qt::AlignCenter, kind);
  return pins;
}

// The generator's serial connector and its wiring to the computer.
QImage Wiring() {
  QImage img(257, 401, QImage::Format_ARGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(200, 205, 215), 1));
  p.drawRect(QRectF(0.5, 0.5, 256, 400));

  const auto gen = DSub(p, QPointF(128, 62), "Generator  RS-232", "9-pin D-sub, female, rear panel", true);
  const auto pc = DSub(p, QPointF(128, 262), "Computer  COM port", "9-pin D-sub, male", false);

  // The cable: transmit crossed to receive both ways, ground straight.
  struct TWire {
    int From, To;  // pin indexes at the generator and at the computer
    QColor Colour;
    QString Label;
  };
  const TWire wires[] = {
      {2, 1, QColor(200, 40, 40), "TxD 3 \u2192 2 RxD"},
      {1, 2, QColor(30, 120, 200), "RxD 2 \u2190 3 TxD"},
      {4, 4, QColor(60, 60, 60), "GND 5 \u2014 5 GND"},
  };
  for (const TWire& w : wires) {
    const QPointF a = gen[w.From], b = pc[w.To];
    QPainterPath path(a);
    path.lineTo(a.x(), 120);
    path.cubicTo(a.x(), 170, b.x(), 170, b.x(), 215);
    path.lineTo(b);
    p.setPen(QPen(w.Colour, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
  }
  p.setFont(Font(10, true));
  double y = 336;
  for (const TWire& w : wires) {
    p.setPen(QPen(w.Colour, 3));
    p.drawLine(QPointF(44, y), QPointF(66, y));
    p.setPen(kInk);
    p.drawText(QPointF(74, y + 4), w.Label);
    y += 15;
  }
  p.setFont(Font(9));
  p.drawText(QRectF(4, 370, 249, 28), Qt::AlignCenter | Qt::TextWordWrap,
             "Crossed cable, no handshake lines.\n9600 baud, 8 data bits, no parity, 1 stop bit.");
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vx-draw-pictures FOLDER\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  bool ok = Banner().save(dir + "/Image1.png") && Transducer().save(dir + "/Image2.png") &&
            Wiring().save(dir + "/Image3.png");
  if (!ok) std::fprintf(stderr, "vx-draw-pictures: cannot write into %s\n", argv[1]);
  return ok ? 0 : 1;
}
