#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "ec/ModuleName.h"

namespace zar {

constexpr uint32_t MODULE_CHECK_MATCH = 0x80;     // names matched up to a space
constexpr uint32_t MODULE_CHECK_MISMATCH = 0xF0;  // names differ

enum class ModuleCheckResult { Passed, Mismatch, NoAnswer };

// The EC's ModuleName into EcModuleName: 32 EC memory reads. False when the
// EC stopped answering.
[[nodiscard]] bool ReadEcModuleName();

// Compares the image's ModuleName (in Image, imageSize bytes, read whole
// before) with the EC's, unless argv[2] begins with p or P. Leaves its
// verdict in Checksum.
ModuleCheckResult CheckModuleIdentity(const Arguments& args, int32_t imageSize);

}  // namespace zar
