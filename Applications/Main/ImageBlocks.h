// The image file as the flashing run reads it: opened a second time,
// measured, and delivered one 64 KiB block at a time into Block.
#pragma once

#include <stdint.h>

#include "platform/Platform.h"

namespace zar {

// 255 blocks: BlockCounter is 8 bits wide and block 255 is the last one with
// a flash address of its own.
constexpr int32_t MAX_IMAGE_SIZE = 0xFF0000;

enum class ImageProblem { None, CantOpen, CantMeasure, Empty, TooLarge };

// Measures an open stream (end, tell, back to the start). -1 when it can't.
int32_t MeasureImage(PlatformFile* file);
// Whether an image of this size can be flashed; prints why not.
ImageProblem CheckImageSize(int32_t size);

// Opens argv[1] again, measures it and zeroes the byte counters.
ImageProblem SetUpImage(const char* name);

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

}  // namespace zar
