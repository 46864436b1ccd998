// The image's CRC-32 for the run's record, so that two images of one name
// can be told apart: folded in as the image's bytes come in, and finished
// from the file when the run ended before it had read all of it.
#pragma once

#include <stdint.h>

namespace zar {

// count bytes of the image, read at offset: taken when they continue what was
// folded so far, so a second pass over the image adds nothing.
void FoldImageCrc(const uint8_t* bytes, int32_t offset, int32_t count);

// The CRC-32 of the whole of ImageFile as read: what was folded, then the rest
// of the file to its end, its position kept. False when no image is open, it
// could not be read to its end, or it is longer than any image can be.
[[nodiscard]] bool ImageCrc32(uint32_t* crc);

}  // namespace zar
