// Replays the committed corpus through every fuzz target with the normal compiler and sanitizers:
//   fuzz_replay CORPUS_FOLDER
// runs each file of CORPUS_FOLDER/TARGET through TARGET. A target that finds no folder or no file
// fails the run, so a renamed target cannot silently stop being tested.
#include "fuzz_support.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <map>
#include <string>

namespace {
std::map<std::string, FuzzFunction>& Targets()
{
    static std::map<std::string, FuzzFunction> targets;
    return targets;
}
} // namespace

bool RegisterFuzzTarget(const char* name, FuzzFunction function)
{
    Targets()[name] = function;
    return true;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_replay CORPUS_FOLDER\n");
        return 2;
    }
    int failures = 0;
    for (const auto& [name, function] : Targets()) {
        const QString folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/') + QString::fromStdString(name);
        QDirIterator files(folder, QDir::Files);
        int count = 0;
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "%s: cannot read %s\n", name.c_str(), qPrintable(file.fileName()));
                ++failures;
                continue;
            }
            const QByteArray bytes = file.readAll();
            function(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
            ++count;
        }
        std::printf("%s: %d inputs\n", name.c_str(), count);
        if (count == 0) {
            std::fprintf(stderr, "%s: no corpus in %s\n", name.c_str(), qPrintable(folder));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
