// The image as the flashing run takes it: the file opened once, measured and
// read whole into memory before the EC is touched; then delivered one 64 KiB
// block at a time into Block from memory, so that a medium that fails or goes
// away mid-run can no longer stop a run half-way.
#pragma once

#include <stdint.h>

#include "platform/Platform.h"

namespace zar {

// 255 blocks: BlockCounter is 8 bits wide and block 255 is the last one with
// a flash address of its own.
constexpr int32_t MAX_IMAGE_SIZE = 0xFF0000;

enum class ImageProblem { None, CantMeasure, Empty, TooLarge, NoMemory, Unreadable, SizeChanged };

// Measures an open stream (end, tell, back to the start). -1 when it can't.
int32_t MeasureImage(PlatformFile* file);
// Whether an image of this size can be flashed; prints why not.
ImageProblem CheckImageSize(int32_t size);

// Opens the image into ImageFile; "FILE NAME ERROR!!" when it won't open.
[[nodiscard]] bool OpenImage(const char* name);

// The whole image, size bytes as measured, into one allocation (Image), read
// in the 32 KiB pieces the blocks were once read in; then the file is closed.
// Says why not: "OUT OF MEMORY!!" (marked as LastRunOutOfMemory), "FILE READ
// ERROR!!" with the offset the reads stopped at, or "FILE SIZE ERROR!!" when
// the file's size is no longer what was measured.
[[nodiscard]] ImageProblem ReadWholeImage(int32_t size);
void ReleaseImage();

// After the module check: ImageSize (a run's record tells a run that got this
// far by it), and every counter at the image's start.
void SetUpImage(int32_t size);
// Back to block 0 for another walk over the image.
void RewindImage();

// The block buffer; false when memory runs out.
[[nodiscard]] bool AllocateBlockBuffers();
// The same for a run: when memory runs out it says so and marks the run
// (LastRunOutOfMemory), which then ends with EXIT_BAD_IMAGE.
[[nodiscard]] bool AllocateRunBuffers();
void ReleaseBlockBuffers();

// The next block of the image (read whole before follow mode) into Block,
// filling what the image does not cover with 0xFF; false at the image's end.
bool ReadNextBlock();
// One block of the image into Block, 0xFF past the image's end.
void CopyImageBlock(uint8_t block);
// How many bytes of the image fall into the block: 64 KiB, fewer in the last.
int32_t ImageBytesInBlock(uint8_t block);

// Takes the image block by block into Block and runs each on every block,
// until the image's end, the EC stops answering or each returns false.
void WalkImageBlocks(bool (*each)(uint8_t block));

}  // namespace zar
