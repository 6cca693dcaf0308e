#pragma once
// Qt 6 moved Qt 5's graphical effects to Qt5Compat. The two scene files that
// name them have a "+qt6" variant beside them, picked by a file selector.

#include <QQmlApplicationEngine>
#include <QQmlFileSelector>

inline void selectToolkitFiles(QQmlEngine *engine)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QStringList selectors{QStringLiteral("qt6")};
    if (auto *application = qobject_cast<QQmlApplicationEngine *>(engine))
        application->setExtraFileSelectors(selectors);
    else
        (new QQmlFileSelector(engine, engine))->setExtraSelectors(selectors);
#else
    Q_UNUSED(engine)
#endif
}
