#pragma once
// A throw-away program folder for configuration tests: a temporary directory with a data/ folder,
// installed as Shared.AppPath on a fresh shared state.
#include "core/shared_state.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class DataFolder {
  public:
    DataFolder()
    {
        Shared = SharedState{};
        QDir(m_dir.path()).mkdir(QStringLiteral("data"));
        Shared.AppPath = m_dir.path();
    }

    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile file(DataPath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    QByteArray read(const QString& name) const
    {
        QFile file(DataPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QString path() const { return m_dir.path(); }

  private:
    QTemporaryDir m_dir;
};
