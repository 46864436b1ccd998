// The flasher's entry and its exit statuses.
#pragma once

namespace zar {

enum ExitStatus : int {
    EXIT_OK = 0,               // flashed and every block verified; the usage screen; a "/" name that opened
    EXIT_MODULE_MISMATCH = 1,  // the image was built for another module
    EXIT_BAD_IMAGE = 2,        // the image can't be used; found before follow mode
    EXIT_FLASH_FAILED = 3,     // a blank check or verify failed, or the image could not be read to its end
    EXIT_NO_ANSWER = 4,        // the EC or the flash chip stopped answering
};

// argv[0] is the program's name, argv[1] the image, then the switches.
// Entries at argc and beyond are never read.
int main(int argc, char* argv[]);

// True when the last run ended with EXIT_BAD_IMAGE because memory ran out.
bool LastRunOutOfMemory();

}  // namespace zar
