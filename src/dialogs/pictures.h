// The window's pictures, all of our own drawing: device pictures for the top
// bar and the device dialog, the USB indicator, the hidden tree's images, the
// blinking selection marker, the menu images and the busy animation.
#pragma once

#include <QPixmap>
#include <QSize>

namespace travosk::pictures {

// Device pictures by DeviceKind: 1 PS2 card, 2 PS1 card, 3 SmartMedia. Any
// other kind gives a transparent picture.
QPixmap Device(int kind, QSize size);
// The USB indicator of the top bar.
QPixmap UsbPlug(QSize size);
// Images of the hidden index tree (16 x 16): 0 PS2 root, 1 folder, 2 file,
// 3 spare, 4 PS1 root.
QPixmap Tree(int index);
inline constexpr int kTreeImages = 5;
// The four pictures of the selection marker's blink (16 x 16).
QPixmap StateMarker(int index);
inline constexpr int kStateImages = 4;
// Menu item images (16 x 16): 0 append, 1 backup, 2 delete, 3 edit, 4 erase,
// 5 PC format, 6 setup.
QPixmap Menu(int index);
inline constexpr int kMenuImages = 7;
// Frames 1..8 of the busy animation (48 x 45).
QPixmap BusyFrame(int frame);
inline constexpr int kBusyFrames = 8;

}  // namespace travosk::pictures
