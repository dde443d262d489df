// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window's document: saves the capture helper's default trace file under
// a name of the user's choice.

#include <QObject>
#include <QString>

#include <cstddef>
#include <functional>
#include <sys/types.h>

class NUKDoc : public QObject {
    Q_OBJECT
public:
    using PieceObserver = std::function<void(std::size_t bytes)>;

    explicit NUKDoc(QObject* parent = nullptr) : QObject(parent) {}

    // Copies the default trace file to `name` (".tr" appended unless it already ends
    // so, case-sensitively), in pieces of at most 100 bytes, up to the size the file
    // had when the copy began. False when nothing could be saved.
    bool saveAs(const QString& name);

    // Why the last saveAs wrote nothing, when it is something the user must be told
    // (someone else's file at the trace's name); empty otherwise.
    const QString& refusal() const { return m_refusal; }

    // Called after every piece written (tests watch the piece sizes).
    void setPieceObserver(PieceObserver observer) { m_observer = std::move(observer); }

    static constexpr std::size_t kPieceSize = 100;

signals:
    void documentChanged();

private:
    bool copy(int from, int to, off_t size);

    PieceObserver m_observer;
    QString m_refusal;
};
