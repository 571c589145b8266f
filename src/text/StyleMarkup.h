#pragma once

#include "kestrel/BufferString.h"

#include <map>

namespace Kestrel {

/// Property name (lowercase) to value (as written).
using StyleProperties = std::map<BufferString, BufferString>;

/// Renders a rule's font, weight, style and decoration properties into the inline markup
/// placed before (openMarkup) and after (closeMarkup) a styled text.
void renderStyleMarkup(const StyleProperties& properties, BufferString& openMarkup,
                       BufferString& closeMarkup);

} // namespace Kestrel
