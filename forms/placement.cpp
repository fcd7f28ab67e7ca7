#include "forms/placement.h"

namespace {
int Centred(int low, int high, int size, int bound_low, int bound_high) {
  int at = (low + high) / 2 - size / 2;
  if (at + size > bound_high) at = bound_high - size;
  if (at < bound_low) at = bound_low;
  return at;
}
}  // namespace

void CentreOver(const TScreenRect& over, const TScreenRect& bounds, int width, int height, int& left,
                int& top) {
  left = Centred(over.left, over.right, width, bounds.left, bounds.right);
  top = Centred(over.top, over.bottom, height, bounds.top, bounds.bottom);
}
