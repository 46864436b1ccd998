#pragma once

namespace zar {

// Rule, title, rule: printed together wherever the screen is (re)drawn.
void PrintBanner();

}  // namespace zar
