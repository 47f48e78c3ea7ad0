#include "SeverityImages.h"

#include <array>

// The resources are linked from a static library, so they must be
// registered by hand; Q_INIT_RESOURCE cannot be used inside a namespace.
static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace brantwell {

void ensureResources()
{
    static const bool done = (initAppResources(), true);
    (void)done;
}

QString severityImageName(DisplayClass displayClass)
{
    switch (displayClass) {
    case DisplayClass::Normal: return QStringLiteral("Normal");
    case DisplayClass::Moderate: return QStringLiteral("Moderate");
    case DisplayClass::Severe: return QStringLiteral("Severe");
    }
    return {};
}

QIcon severityIcon(DisplayClass displayClass)
{
    // Built once: the table asks for an icon for every visible cell.
    static const std::array<QIcon, 3> icons = [] {
        ensureResources();
        std::array<QIcon, 3> out;
        for (int i = 0; i < 3; ++i)
            out[static_cast<std::size_t>(i)] = QIcon(
                QStringLiteral(":/images/%1.svg").arg(severityImageName(static_cast<DisplayClass>(i))));
        return out;
    }();
    return icons[static_cast<std::size_t>(displayClass)];
}

} // namespace brantwell
