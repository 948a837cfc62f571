#pragma once
#include "media/TListView.h"

#include <QPixmap>

// The desk's pictures, drawn by the program itself.
// imgControls (48 x 48): 0 stop, 1 play, 2 pause, 3 next, 4 repeat, 5 microphone,
// 6 play-then-stop.
TImageList MakeImgControls();
// icons16 (16 x 16, 22 images): 0-5 media types in the order of MediaExtensions,
// 9/10/11 folder selected/closed/expanded, 12 web link, 13 video-site link,
// 14 edit, 15 delete, 16 clear all, 17 import, 18 clear list, 19 export,
// 10 also exit, 4 also send caption.
TImageList MakeIcons16();
// Icons48 (48 x 48): 0 marquee send, 1 spare.
TImageList MakeIcons48();
// Background pictures of the monitor panel and of the "Controles" tab.
QPixmap MonitorBackground(QSize size);
QPixmap ControlsBackground(QSize size);
// The application icon.
QIcon AppIcon();
