// The plus and minus marks of closed and open group rows, drawn at the
// pixel size asked for, so they stay sharp at any scale.
#pragma once

#include <QIcon>

namespace brantwell {

QIcon groupMark(bool open);

} // namespace brantwell
