#pragma once
// Rounding as the system's documents and pages round: to the nearest whole number, halves to
// the even neighbour (50.5 -> 50, 51.5 -> 52), whatever the floating-point rounding mode.

namespace kvo {

double RoundHalfEven(double value);

}  // namespace kvo
