#pragma once

namespace zar {

// The command line as the run reads it. An argument that was not given reads
// as absent, whatever the array holds beyond argc.
class Arguments {
public:
    Arguments(int argc, char* argv[]) : argc_(argc), argv_(argv) {}

    const char* At(int index) const
    {
        return index >= 0 && index < argc_ && argv_ ? argv_[index] : nullptr;
    }
    bool Has(int index) const { return At(index) != nullptr; }
    // The first byte of an argument, 0 when absent.
    char First(int index) const { return Has(index) ? At(index)[0] : 0; }

    int Count() const { return argc_; }

    // The command line from argument `first` on: At(0) of the result is
    // At(first) here.
    Arguments From(int first) const
    {
        return first >= argc_ ? Arguments(0, nullptr) : Arguments(argc_ - first, argv_ + first);
    }

private:
    int argc_;
    char** argv_;
};

// Positions on the command line
constexpr int ARG_IMAGE = 1;
constexpr int ARG_SKIP_CHECK = 2;  // "p" or "P": skip the module check
constexpr int ARG_THIRD = 3;       // only its presence counts
constexpr int ARG_ALT_EXIT = 4;    // "/j": close with EC_CMD_FOLLOW_EXIT_ALT

}  // namespace zar
