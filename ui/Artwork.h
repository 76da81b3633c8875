#pragma once
#include <QString>

namespace rw {

// The compiled-in artwork (res/artwork.qrc): the program icon, the gear frames
// and the loudspeaker bitmaps. The resources live in a static library, so they
// are registered explicitly; call initArtwork() before loading any of them
// (safe from any thread, any number of times).
void initArtwork();

// ":/bitmaps/<id>.png" for a bitmap resource number (136, 138..147).
QString bitmapPath(int id);
// String resource `id` (101); empty when the program has none.
QString resourceString(int id);

}  // namespace rw
