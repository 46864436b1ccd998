#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"

namespace zar {

constexpr uint32_t MODULE_CHECK_MATCH = 0x80;     // names matched up to a space
constexpr uint32_t MODULE_CHECK_MISMATCH = 0xF0;  // names differ
constexpr int32_t MODULE_NAME_OFFSET = 0x50;      // in the image
constexpr uint8_t EC_MODULE_NAME_HIGH = 0x08;     // EC memory 0x0880-0x089F
constexpr uint8_t EC_MODULE_NAME_LOW = 0x80;

enum class ModuleCheckResult { Passed, Mismatch, NoAnswer };

// The EC's ModuleName into EcModuleName: 32 EC memory reads. False when the
// EC stopped answering.
[[nodiscard]] bool ReadEcModuleName();

// Compares the image's ModuleName with the EC's, unless argv[2] begins with
// p or P. Closes the image file either way. Leaves its verdict in Checksum.
ModuleCheckResult CheckModuleIdentity(const Arguments& args);

}  // namespace zar
