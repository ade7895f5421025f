#pragma once
// A stand-in for meter-sigrok: `script` written as an executable file "meter-sigrok" in `folder`,
// and VARNIK_SIGROK_HELPER pointed at it.
#include <QDir>
#include <QFile>
#include <QTest>

inline void UseSigrokStandIn(const QString& folder, const char* script)
{
    QFile helper(QDir(folder).filePath(QStringLiteral("meter-sigrok")));
    QVERIFY(helper.open(QIODevice::WriteOnly));
    QVERIFY(helper.write(script) > 0);
    helper.close();
    helper.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("VARNIK_SIGROK_HELPER", helper.fileName().toLocal8Bit());
}
