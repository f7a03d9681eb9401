#include "dialogs/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

namespace travosk::pictures {
namespace {

QPixmap Blank(QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A card of the card slot seen from the front: a body with a label and the
// contact edge at the top. The PS2 card is dark, the PS1 card light grey.
void DrawCard(QPainter& p, const QRectF& r, const QColor& body, const QColor& label,
              const QString& mark) {
  p.setPen(QPen(body.darker(160), 1));
  QLinearGradient shade(r.topLeft(), r.bottomRight());
  shade.setColorAt(0, body.lighter(130));
  shade.setColorAt(1, body);
  p.setBrush(shade);
  QPainterPath outline;
  const qreal notch = r.width() * 0.22;
  outline.moveTo(r.left() + 1, r.top());
  outline.lineTo(r.right() - notch, r.top());
  outline.lineTo(r.right(), r.top() + notch);
  outline.lineTo(r.right(), r.bottom() - 1);
  outline.lineTo(r.left(), r.bottom() - 1);
  outline.lineTo(r.left(), r.top() + 1);
  outline.closeSubpath();
  p.drawPath(outline);
  const QRectF label_rect(r.left() + r.width() * 0.15, r.top() + r.height() * 0.38,
                          r.width() * 0.7, r.height() * 0.45);
  p.setPen(Qt::NoPen);
  p.setBrush(label);
  p.drawRect(label_rect);
  p.setPen(body.darker(200));
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(qMax(5, int(label_rect.height() * 0.7)));
  p.setFont(font);
  p.drawText(label_rect, Qt::AlignCenter, mark);
  p.setPen(QPen(QColor(200, 170, 60), 1));
  for (qreal x = r.left() + 3; x < r.right() - notch - 1; x += 3)
    p.drawLine(QPointF(x, r.top() + 2), QPointF(x, r.top() + r.height() * 0.2));
}

// A SmartMedia: a thin card with its large gold contact pad.
void DrawSmartMedia(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(60, 60, 70), 1));
  p.setBrush(QColor(40, 40, 48));
  QPainterPath outline;
  const qreal cut = r.width() * 0.18;
  outline.moveTo(r.left(), r.top());
  outline.lineTo(r.right() - cut, r.top());
  outline.lineTo(r.right(), r.top() + cut);
  outline.lineTo(r.right(), r.bottom());
  outline.lineTo(r.left(), r.bottom());
  outline.closeSubpath();
  p.drawPath(outline);
  const QRectF pad(r.left() + r.width() * 0.18, r.top() + r.height() * 0.2, r.width() * 0.5,
                   r.height() * 0.55);
  QLinearGradient gold(pad.topLeft(), pad.bottomRight());
  gold.setColorAt(0, QColor(250, 220, 110));
  gold.setColorAt(1, QColor(190, 140, 40));
  p.setBrush(gold);
  p.setPen(QPen(QColor(150, 110, 30), 1));
  p.drawRoundedRect(pad, 2, 2);
  p.drawLine(QPointF(pad.center().x(), pad.top()), QPointF(pad.center().x(), pad.bottom()));
  p.drawLine(QPointF(pad.left(), pad.center().y()), QPointF(pad.right(), pad.center().y()));
}

void DrawFolder(QPainter& p, const QRectF& r, const QColor& colour) {
  p.setPen(QPen(colour.darker(170), 1));
  p.setBrush(colour.darker(115));
  p.drawRect(QRectF(r.left(), r.top() + 2, r.width() * 0.45, 3));
  p.setBrush(colour);
  p.drawRect(QRectF(r.left(), r.top() + 4, r.width() - 1, r.height() - 5));
}

void DrawSheet(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.setBrush(Qt::white);
  QPolygonF sheet;
  sheet << QPointF(r.left() + 2, r.top()) << QPointF(r.right() - 5, r.top())
        << QPointF(r.right() - 1, r.top() + 4) << QPointF(r.right() - 1, r.bottom() - 1)
        << QPointF(r.left() + 2, r.bottom() - 1);
  p.drawPolygon(sheet);
  p.setPen(QColor(150, 150, 200));
  for (qreal y = r.top() + 5; y < r.bottom() - 2; y += 3)
    p.drawLine(QPointF(r.left() + 4, y), QPointF(r.right() - 4, y));
}

void DrawArrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
  p.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(from, to);
  const qreal angle = qAtan2(to.y() - from.y(), to.x() - from.x());
  const qreal head = 4.5;
  QPolygonF tip;
  tip << to << to - QPointF(head * qCos(angle - 0.6), head * qSin(angle - 0.6))
      << to - QPointF(head * qCos(angle + 0.6), head * qSin(angle + 0.6));
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPolygon(tip);
}

}  // namespace

QPixmap Device(int kind, QSize size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF area(1, 1, size.width() - 2, size.height() - 2);
  const qreal w = qMin(area.width(), area.height() * 0.8);
  const QRectF card(area.center().x() - w / 2, area.top(), w, area.height());
  switch (kind) {
    case 1:
      DrawCard(p, card, QColor(45, 50, 70), QColor(90, 120, 200), "PS2");
      break;
    case 2:
      DrawCard(p, card, QColor(170, 170, 175), QColor(230, 60, 60), "PS");
      break;
    case 3:
      DrawSmartMedia(p, QRectF(area.center().x() - area.height() * 0.45, area.top(),
                               area.height() * 0.9, area.height()));
      break;
    default:
      break;
  }
  return pixmap;
}

QPixmap UsbPlug(QSize size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal h = size.height();
  const qreal w = size.width();
  // The trident of the USB mark, lying on its side.
  const QColor ink(20, 90, 170);
  p.setPen(QPen(ink, 2));
  p.drawLine(QPointF(4, h / 2), QPointF(w - 7, h / 2));
  p.setBrush(ink);
  p.drawEllipse(QPointF(5, h / 2), 3, 3);
  QPolygonF tip;
  tip << QPointF(w - 2, h / 2) << QPointF(w - 8, h / 2 - 4) << QPointF(w - 8, h / 2 + 4);
  p.drawPolygon(tip);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF{QPointF(10, h / 2), QPointF(14, 4), QPointF(20, 4)});
  p.drawPolyline(QPolygonF{QPointF(14, h / 2), QPointF(18, h - 5), QPointF(23, h - 5)});
  p.setBrush(ink);
  p.drawEllipse(QPointF(21, 4), 2, 2);
  p.drawRect(QRectF(23, h - 7, 4, 4));
  return pixmap;
}

QPixmap Tree(int index) {
  QPixmap pixmap = Blank(QSize(16, 16));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case 0:
      DrawCard(p, QRectF(2, 1, 12, 14), QColor(45, 50, 70), QColor(90, 120, 200), "");
      break;
    case 1:
      DrawFolder(p, QRectF(1, 1, 14, 14), QColor(240, 200, 80));
      break;
    case 2:
      DrawSheet(p, QRectF(2, 1, 12, 14));
      break;
    case 4:
      DrawCard(p, QRectF(2, 1, 12, 14), QColor(170, 170, 175), QColor(230, 60, 60), "");
      break;
    default:
      break;
  }
  return pixmap;
}

QPixmap StateMarker(int index) {
  // A triangle pointing at the selected save, swelling and fading in turn.
  QPixmap pixmap = Blank(QSize(16, 16));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  static constexpr int kAlpha[kStateImages] = {255, 190, 110, 190};
  static constexpr qreal kReach[kStateImages] = {13, 12, 10, 12};
  QColor colour(220, 30, 30);
  colour.setAlpha(kAlpha[((index % kStateImages) + kStateImages) % kStateImages]);
  const qreal reach = kReach[((index % kStateImages) + kStateImages) % kStateImages];
  p.setPen(QPen(colour.darker(150), 1));
  p.setBrush(colour);
  QPolygonF arrow;
  arrow << QPointF(2, 3) << QPointF(reach, 8) << QPointF(2, 13);
  p.drawPolygon(arrow);
  return pixmap;
}

QPixmap Menu(int index) {
  QPixmap pixmap = Blank(QSize(16, 16));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor card(45, 50, 70), label(90, 120, 200);
  switch (index) {
    case 0:  // append: from the PC into the card
      DrawCard(p, QRectF(7, 4, 8, 11), card, label, "");
      DrawArrow(p, QPointF(1, 3), QPointF(8, 9), QColor(30, 150, 40));
      break;
    case 1:  // backup: out of the card to the PC
      DrawCard(p, QRectF(1, 4, 8, 11), card, label, "");
      DrawArrow(p, QPointF(7, 9), QPointF(15, 3), QColor(30, 90, 200));
      break;
    case 2:  // delete
      DrawSheet(p, QRectF(1, 1, 11, 14));
      p.setPen(QPen(QColor(210, 20, 20), 2.4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(6, 6), QPointF(14, 14));
      p.drawLine(QPointF(14, 6), QPointF(6, 14));
      break;
    case 3:  // edit
      DrawSheet(p, QRectF(1, 1, 11, 14));
      p.setPen(QPen(QColor(200, 120, 20), 3, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(7, 13), QPointF(14, 5));
      p.setPen(QPen(QColor(40, 40, 40), 1.5));
      p.drawLine(QPointF(5.5, 15), QPointF(7, 13));
      break;
    case 4:  // erase the expanded memory
      DrawSmartMedia(p, QRectF(2, 1, 12, 14));
      p.setPen(QPen(QColor(240, 240, 240), 2));
      p.drawLine(QPointF(3, 14), QPointF(14, 3));
      break;
    case 5:  // PC format
      p.setPen(QPen(QColor(60, 60, 60), 1));
      p.setBrush(QColor(200, 220, 240));
      p.drawRect(QRectF(1, 2, 14, 9));
      p.setBrush(QColor(120, 120, 120));
      p.drawRect(QRectF(5, 12, 6, 2));
      DrawSmartMedia(p, QRectF(9, 7, 6, 8));
      break;
    case 6: {  // setup: a gear
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(90, 90, 100));
      for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(8, 8);
        p.rotate(i * 45.0);
        p.drawRect(QRectF(-1.5, -8, 3, 4));
        p.restore();
      }
      p.drawEllipse(QPointF(8, 8), 5.5, 5.5);
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(8, 8), 2.2, 2.2);
      break;
    }
    default:
      break;
  }
  return pixmap;
}

QPixmap BusyFrame(int frame) {
  // A magnifying glass that circles over a card: the window is searching.
  QPixmap pixmap = Blank(QSize(48, 45));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  DrawCard(p, QRectF(12, 8, 22, 30), QColor(45, 50, 70), QColor(90, 120, 200), "");
  const qreal angle = (frame - 1) * (2 * M_PI / kBusyFrames);
  const QPointF lens(24 + 9 * qCos(angle), 21 + 8 * qSin(angle));
  p.setPen(QPen(QColor(120, 70, 20), 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(lens + QPointF(5, 5), lens + QPointF(12, 13));
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(QColor(180, 220, 255, 150));
  p.drawEllipse(lens, 7, 7);
  return pixmap;
}

}  // namespace travosk::pictures
