#pragma once

// The semantic colours the panel's rules choose between; PanelTheme turns
// each into the desktop's light or dark shade.
enum class ColorRole { primary, secondary, tertiary, red, orange, green, accent };
