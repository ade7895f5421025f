// Build step of the package: writes the program's logo as PNG files for the desktop's icon theme,
// one per size, as OUTDIR/NxN/apps/varnik.png. Runs offscreen.
//   varnik_render_icons OUTDIR SIZE...
#include "about/identity_ui.h"

#include <QApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fputs("usage: varnik_render_icons OUTDIR SIZE...\n", stderr);
        return 2;
    }
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const int side = arguments.at(i).toInt();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments.at(1)).arg(side);
        if (side < 8 || !QDir().mkpath(folder) || !VarnikLogo(side).save(folder + QStringLiteral("/varnik.png"))) {
            std::fprintf(stderr, "varnik_render_icons: cannot write the %s pixel icon into %s\n",
                         qPrintable(arguments.at(i)), qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
