#pragma once

#include <QIcon>

// Small icons of the painter's and the level strip's newer tools, drawn in code.
namespace toolicons {
enum class Kind
{
    Pick,
    Fill,
    Import,
    Export,
    Duplicate,
    Remove,
    Left,
    Right,
    Mirror
};
QIcon icon(Kind kind);
} // namespace toolicons
