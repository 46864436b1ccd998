// The image file as the flashing run reads it: opened once, measured, and
// delivered one 64 KiB block at a time into Block.
#pragma once

#include <stdint.h>

#include "platform/Platform.h"

namespace zar {

// 255 blocks: BlockCounter is 8 bits wide and block 255 is the last one with
// a flash address of its own.
constexpr int32_t MAX_IMAGE_SIZE = 0xFF0000;

enum class ImageProblem { None, CantMeasure, Empty, TooLarge };

// Measures an open stream (end, tell, back to the start). -1 when it can't.
int32_t MeasureImage(PlatformFile* file);
// Whether an image of this size can be flashed; prints why not.
ImageProblem CheckImageSize(int32_t size);

// Opens the image into ImageFile; "FILE NAME ERROR!!" when it won't open.
[[nodiscard]] bool OpenImage(const char* name);

// After the module check: back to the image's start, with the byte counters
// zeroed, for an image of size bytes.
ImageProblem SetUpImage(int32_t size);

// The block buffer; false when memory runs out.
[[nodiscard]] bool AllocateBlockBuffers();
// The same for a run: when memory runs out it says so and marks the run
// (LastRunOutOfMemory), which then ends with EXIT_BAD_IMAGE.
[[nodiscard]] bool AllocateRunBuffers();
void ReleaseBlockBuffers();

enum class BlockRead { Ready, End, ReadError };

// Reads the next block, filling what the file does not cover with 0xFF.
// ReadError: the file ended or failed before ImageSize bytes came in.
BlockRead ReadNextBlock();
// How many bytes of the image fall into the block: 64 KiB, fewer in the last.
int32_t ImageBytesInBlock(uint8_t block);

// "FILE READ ERROR!!" with how far the image could be read.
void ReportImageReadError();

// Reads the image block by block into Block and runs each on every block,
// until the image's end, a read that comes up short (FILE READ ERROR!! said)
// or the EC stops answering. False after a short read.
[[nodiscard]] bool WalkImageBlocks(void (*each)(uint8_t block));

}  // namespace zar
