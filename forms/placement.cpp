#include "forms/placement.h"

void CentreOver(int client_left, int client_top, int client_right, int client_bottom, int width,
                int height, int& left, int& top) {
  left = (client_left + client_right) / 2 - width / 2;
  top = (client_top + client_bottom) / 2 - height / 2;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
}
