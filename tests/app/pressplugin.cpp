// SPDX-License-Identifier: GPL-2.0-or-later
// A Qt "generic" plugin for tests of the installed program: loaded into nuk through
// QT_QPA_GENERIC_PLUGINS=nukpress:<text>, it triggers the main window's action with
// that text once the window exists, as a click on it would.

#include <QAction>
#include <QApplication>
#include <QGenericPlugin>
#include <QMainWindow>
#include <QTimer>

namespace {
class Presser : public QObject {
public:
    explicit Presser(const QString& text) : m_text(text)
    {
        connect(&m_poll, &QTimer::timeout, this, &Presser::pressWhenThere);
        m_poll.start(50);
    }

private:
    void pressWhenThere()
    {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (!qobject_cast<QMainWindow*>(window) || !window->isVisible())
                continue;
            for (QAction* action : window->findChildren<QAction*>()) {
                if (action->text() == m_text) {
                    m_poll.stop();
                    action->trigger();
                    return;
                }
            }
        }
    }

    QString m_text;
    QTimer m_poll;
};
}  // namespace

class PressPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "pressplugin.json")
public:
    QObject* create(const QString& key, const QString& options) override
    {
        return key.compare(QLatin1String("nukpress"), Qt::CaseInsensitive) == 0 ? new Presser(options) : nullptr;
    }
};

#include "pressplugin.moc"
