// SVG path data: the product mark is read at run time from a resource file.
#include "SVGPathParser.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = FuzzSupport::text(data, size);
    const auto tokens = SVGPathParser::tokenize(text);
    if (tokens.size() > size)
        FuzzSupport::fail("more tokens than characters");
    const QPainterPath path = SVGPathParser::parse(text);
    (void)path.boundingRect();
    return 0;
}
