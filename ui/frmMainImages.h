#pragma once

#include <QIcon>
#include <QImage>

#include "ImageList.h"

// The main window's pictures, drawn here rather than loaded from files.

// The silver that the tree images and arrow pictures are drawn on.
inline constexpr QRgb kImageSilver = 0xffc0c0c0;

// The tree's images, 16 x 16 with silver transparent, in this order:
// "OpenFld" (an open yellow folder), "CloseFld" (a closed yellow folder),
// "File" (a page of text with a folded corner).
ImageList frmMainImages_ImageList1();

QImage frmMainImages_OpenFolder();
QImage frmMainImages_ClosedFolder();
QImage frmMainImages_File();

// Black arrows on silver, 19 x 17, for the get and put buttons.
QImage frmMainImages_ArrowLeft();
QImage frmMainImages_ArrowRight();

// The window's own 16 x 16 icon in the 16 standard colours: a closed
// folder with an arrow leaving it upwards.
QImage frmMainImages_WindowIconImage();
QIcon frmMainImages_WindowIcon();
