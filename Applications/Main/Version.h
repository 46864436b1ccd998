// The program's version, as the run's record gives it. The banner keeps the
// line the console has always shown.
#pragma once

namespace zar {

constexpr char ZAR_VERSION[] = "3.5.0";

}  // namespace zar
