#pragma once

#include <string>
#include <string_view>

namespace KestrelGst {

/// Pango markup for a subtitle's inline markup as the plug-in hands it out: <font color face
/// size> becomes <span foreground font_family size>, <b> <i> <u> <s> stay, "<br>", "<br/>" and
/// the "<**>" marker become line ends (a line end written after "<br>" is part of it), other
/// white space collapses to one space, and the text is escaped. Tags that are left open or
/// closed out of order are closed and reopened so that the result always nests; a colour
/// Pango does not know is dropped. The plain text of the result is the tool's plainText().
[[nodiscard]] std::string pangoMarkup(std::string_view markup);

} // namespace KestrelGst
