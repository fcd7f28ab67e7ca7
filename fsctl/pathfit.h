// The path label's shortening rule: a path that is too wide for its label
// loses its leading folders one by one, each pass showing "...\" in their
// place, until it fits or only the file name is left. The text measure is
// passed in, so the rule runs without a device context.
#pragma once
#include <functional>
#include <string>

// The width of a text in pixels on the label's canvas.
using TTextWidthFunc = std::function<int(const std::string&)>;

// Replaces the first folder of a directory part ("\A\B\" or "\...\A\B\")
// by "...\"; a part without a further folder becomes empty, "\" becomes
// empty. A leading backslash is kept.
void ElideFirstDirectory(std::string& part);

// The text a TNewPathLabel draws for path in a label width pixels wide: the
// path itself when it fits, else the first of its shortened forms that fits,
// else the bare file name (drawn even when it is still too wide).
std::string FitPathToWidth(const std::string& path, const TTextWidthFunc& text_width, int width);
