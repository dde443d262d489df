// SPDX-License-Identifier: GPL-2.0-or-later
// Takes the README's screenshots from a real nuk. Loaded through
// QT_QPA_GENERIC_PLUGINS=nuktour:<directory> into nuk started with a trace argument,
// it does what a user would: in the wizard TCP and UDP in the filter, every view
// ticked, a display pace of 1500 and step mode; then Step until the replay is
// through (the host map is taken while the last packets travel along its links),
// Stop, a packet and a conversation selected in the views, Reconstruct. Each window
// is saved as <directory>/<name>.png, and File, Exit ends nuk. It knows the windows
// only by their captions and Qt classes.

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGenericPlugin>
#include <QMainWindow>
#include <QMessageBox>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QWizard>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

QWidget* window(const QString& caption)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == caption)
            return w;
    return nullptr;
}

template <class Window>
Window* shown()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<Window*>(w); found && found->isVisible())
            return found;
    return nullptr;
}

QWizard* wizard() { return shown<QWizard>(); }
QMessageBox* messageBox() { return shown<QMessageBox>(); }

bool trigger(QWidget* w, const QString& text)
{
    if (!w)
        return false;
    for (QAction* action : w->findChildren<QAction*>()) {
        if (action->text() == text) {
            action->trigger();
            return true;
        }
    }
    return false;
}

// Selects the first row of `table` with a cell containing `text` (any row if empty),
// as a click on it would.
bool selectRow(QTableView* rows, const QString& text, int skip = 0)
{
    if (!rows)
        return false;
    const QAbstractItemModel* model = rows->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
            if (model->index(row, column).data().toString().contains(text)) {
                if (skip-- > 0)
                    break;
                rows->selectRow(row);
                rows->scrollTo(model->index(row, 0));
                return true;
            }
        }
    }
    return false;
}

bool clickButton(QWidget* parent, const QString& text)
{
    if (parent)
        for (QAbstractButton* button : parent->findChildren<QAbstractButton*>())
            if (button->text() == text) {
                button->click();
                return true;
            }
    std::fprintf(stderr, "tour: no button %s\n", qPrintable(text));
    return false;
}

// The table in `parent` whose first column is headed `heading`.
QTableView* table(QWidget* parent, const QString& heading)
{
    if (parent)
        for (QTableView* t : parent->findChildren<QTableView*>())
            if (t->model()->headerData(0, Qt::Horizontal).toString() == heading)
                return t;
    return nullptr;
}

bool require(bool ok, const char* what)
{
    if (!ok)
        std::fprintf(stderr, "tour: no %s\n", what);
    return ok;
}

QTreeWidgetItem* findItem(QTreeWidget* tree, const QString& prefix)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if ((*it)->text(0).startsWith(prefix))
            return *it;
    return nullptr;
}

class Tour : public QObject {
public:
    explicit Tour(const QString& directory) : m_directory(directory)
    {
        QDir().mkpath(m_directory);
        planSteps();
        connect(&m_poll, &QTimer::timeout, this, &Tour::advance);
        m_poll.start(100);
        m_clock.start();
    }

private:
    struct Step {
        const char* what;
        int pauseMs;                  // after the previous step, for painting and timers
        std::function<bool()> ready;  // waited for
        std::function<bool()> act;    // false: the program is not as expected
    };

    void planSteps()
    {
        const QString mainCaption = QStringLiteral("Nukrit Version 1.0");
        // The trace argument has chosen "Disk File" and the file: on to the filter, for UDP too.
        m_steps.push_back({"wizard up", 500, [=] { return wizard() && window(mainCaption); }, [] {
                               QWizard* wiz = wizard();
                               for (int i = 0; i < 5 && wiz->currentPage()->objectName() != "setFilter"; ++i)
                                   wiz->next();
                               return clickButton(wiz->currentPage(), "Set Filter");
                           }});
        m_steps.push_back({"filter", 300, [] { return window("NUK Filter") != nullptr; }, [] {
                               QWidget* filter = window("NUK Filter");
                               for (QCheckBox* box : filter->findChildren<QCheckBox*>())
                                   if ((box->text() == "TCP" || box->text() == "UDP") && !box->isChecked())
                                       box->click();
                               return clickButton(filter, "Ok");
                           }});
        m_steps.push_back({"views", 300, [] { return window("NUK Filter") == nullptr; }, [] {
                               QWizard* wiz = wizard();
                               wiz->next();
                               const auto boxes = wiz->currentPage()->findChildren<QCheckBox*>();
                               for (QCheckBox* box : boxes)
                                   if (!box->isChecked())
                                       box->click();
                               return require(boxes.size() == 6, "six view boxes");
                           }});
        m_steps.push_back({"grab wizard", 300, nullptr, [this] { return save(wizard(), "wizard"); }});
        // A slow pace keeps each packet on its link of the host map for 1.5 s.
        m_steps.push_back({"pace", 0, nullptr, [=] { return trigger(window(mainCaption), "Set Display Pace ..."); }});
        m_steps.push_back({"pace dialog", 300, [] { return window("Set Display Pace Dialog") != nullptr; }, [] {
                               QWidget* dialog = window("Set Display Pace Dialog");
                               auto* slider = dialog->findChild<QSlider*>();
                               if (!require(slider, "pace slider"))
                                   return false;
                               slider->setValue(1500);
                               return clickButton(dialog, "OK");
                           }});
        m_steps.push_back({"finish", 300, nullptr, [] {
                               QWizard* wiz = wizard();
                               wiz->next();
                               if (!clickButton(wiz->currentPage(), "start in step mode"))
                                   return false;
                               QAbstractButton* finish = wiz->button(QWizard::FinishButton);
                               if (!require(finish->isEnabled(), "Finish"))
                                   return false;
                               finish->click();
                               return true;
                           }});
        m_steps.push_back({"map labels", 300, nullptr, [] {
                               QWidget* map = window("NUK Machine Distribution View");
                               return require(trigger(map, "Show IPAddress Below Nodes") &&
                                                  trigger(map, "Show/Hide Node Info Window"),
                                              "machine distribution's menu");
                           }});
        // One Step every 100 ms until every packet is through.
        m_steps.push_back({"steps", 0,
                           [=] {
                               auto* main = qobject_cast<QMainWindow*>(window(mainCaption));
                               if (main && main->statusBar()->currentMessage().startsWith("Replay finished"))
                                   return true;
                               trigger(main, "Step");
                               return false;
                           },
                           [] { return true; }});
        m_steps.push_back({"grab map", 200, nullptr, [=, this] {
                               return save(window("NUK Machine Distribution View"), "machine-distribution") &&
                                      save(window(mainCaption), "main-window");
                           }});
        m_steps.push_back({"stop", 0, nullptr, [=] {
                               // Stop answers with a modal message: pressed from the event loop.
                               QTimer::singleShot(0, [=] { trigger(window(mainCaption), "Stop"); });
                               return true;
                           }});
        // A replay that has finished is stopped already: then Stop says nothing.
        m_steps.push_back({"stopped", 300, nullptr, [] {
                               if (QMessageBox* box = messageBox())
                                   box->button(QMessageBox::Ok)->click();
                               return true;
                           }});
        m_steps.push_back({"select", 300, nullptr, [] {
                               // The web exchange, and the server's answer in the byte panes; every
                               // other view shows that packet too.
                               QWidget* packets = window("NUK Connection Packet View");
                               if (!require(selectRow(table(packets, "End Point 1"), "40001"), "connection row") ||
                                   !require(selectRow(table(packets, "No."), "PSH", 1), "connection's packet row"))
                                   return false;

                               // The packet list followed: the answer's payload marked in the bytes.
                               QWidget* list = window("NUK Packet List View");
                               QTableView* rows = table(list, "No.");
                               if (!require(rows && rows->selectionModel()->hasSelection(), "packet row"))
                                   return false;
                               rows->scrollToTop();
                               auto* tree = list->findChild<QTreeWidget*>();
                               if (!require(tree, "field tree"))
                                   return false;
                               tree->expandAll();
                               QTreeWidgetItem* field = findItem(tree, "Data:");
                               if (!require(field, "Data field"))
                                   return false;
                               tree->setCurrentItem(field);
                               tree->scrollToItem(findItem(tree, "Transmission Control Protocol"),
                                                  QAbstractItemView::PositionAtTop);

                               QWidget* recon = window("NUK Connection Reconstruction View");
                               if (!require(selectRow(table(recon, "End Point 1"), "40001"),
                                            "reconstruction's connection row") ||
                                   !require(trigger(recon, "&Reconstruct View"), "Reconstruct View"))
                                   return false;

                               QWidget* timeLine = window("NUK Time Line View");
                               auto* area = timeLine ? timeLine->findChild<QAbstractScrollArea*>() : nullptr;
                               if (!require(area, "time line"))
                                   return false;
                               area->verticalScrollBar()->setValue(0);  // the first arrows, not the newest
                               area->horizontalScrollBar()->setValue(0);
                               return true;
                           }});
        m_steps.push_back({"grab views", 1200, nullptr, [this] {
                               return save(window("NUK Packet List View"), "packet-list") &&
                                      save(window("NUK Connection Packet View"), "connection-packets") &&
                                      save(window("NUK Connection Reconstruction View"), "reconstruction") &&
                                      save(window("NUK Time Line View"), "time-line") &&
                                      save(window("NUK TCP State Transition Diagram View"), "tcp-state") &&
                                      save(window("NodeInfo"), "node-info");
                           }});
        m_steps.push_back({"exit", 0, nullptr, [=] { return trigger(window(mainCaption), "E&xit"); }});
    }

    bool save(QWidget* w, const char* name)
    {
        if (!w)
            return false;
        const QString path = m_directory + "/" + name + ".png";
        if (!w->grab().save(path))
            return false;
        std::printf("%s\n", qPrintable(path));
        return true;
    }

    void fail(const char* why)
    {
        std::fprintf(stderr, "tour: %s at step \"%s\"\n", why, m_steps[m_next].what);
        // What the windows looked like, to see why.
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                save(w, qPrintable(QStringLiteral("failed-%1").arg(n++)));
        std::_Exit(3);  // nuk's children end with the pipes
    }

    void advance()
    {
        if (m_busy)  // a step's modal dialog runs the event loop
            return;
        if (m_clock.elapsed() > 60000)
            fail("timed out");
        if (m_next >= m_steps.size())
            return;
        const Step& step = m_steps[m_next];
        if (step.ready && !step.ready())
            return;
        if (!m_sinceStep.isValid()) {
            m_sinceStep.start();
            return;
        }
        if (m_sinceStep.elapsed() < step.pauseMs)
            return;
        m_busy = true;
        const bool answered = step.act();
        m_busy = false;
        if (!answered)
            fail("the program did not answer as expected");
        ++m_next;
        m_sinceStep.invalidate();
    }

    QString m_directory;
    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    bool m_busy = false;
    QTimer m_poll;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceStep;
};

}  // namespace

class TourPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "tourplugin.json")
public:
    QObject* create(const QString& key, const QString& options) override
    {
        return key.compare(QLatin1String("nuktour"), Qt::CaseInsensitive) == 0 ? new Tour(options) : nullptr;
    }
};

#include "tourplugin.moc"
