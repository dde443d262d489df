// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The capture filter dialog: protocol, loopback device, destination and source
// addresses and ports. Ok writes `expression` and `deviceFlag`.

#include "config/filterexpression.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;

class Filter : public QDialog {
    Q_OBJECT
public:
    explicit Filter(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                    Qt::WindowFlags flags = {});
    ~Filter() override;

    // Builds a display filter instead: Ok hands the expression to `apply` and leaves
    // the capture's `expression` and `deviceFlag` alone; the device choice is hidden.
    void setDisplayMode(const QString& inForce, std::function<void(const QString&)> apply);

    // The controls, for tests and screenshots.
    QTabWidget* tabs() const { return m_tabs; }
    QCheckBox* tcpBox() const { return m_tcp; }
    QCheckBox* udpBox() const { return m_udp; }
    QCheckBox* loBox() const { return m_lo; }
    QLineEdit* dstAddressField() const { return m_dstAddress; }
    QLineEdit* dstPortField() const { return m_dstPort; }
    QLineEdit* srcAddressField() const { return m_srcAddress; }
    QLineEdit* srcPortField() const { return m_srcPort; }
    QListWidget* dstList() const { return m_dstList; }
    QListWidget* srcList() const { return m_srcList; }
    QPushButton* dstAddButton() const { return m_dstAdd; }
    QPushButton* srcAddButton() const { return m_srcAdd; }
    QPushButton* delButton() const { return m_del; }
    QRadioButton* orButton() const { return m_or; }
    QRadioButton* andButton() const { return m_and; }
    QLineEdit* inForceField() const { return m_inForce; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* checkingLabel() const { return m_checking; }

public slots:
    void clicked();  // Cancel
    void del();
    void commit();   // Ok
    void adddst();
    void addsrc();
    void choose();
    void choose2();
    void choose3();
    void choose4();
    void slot_lo();
    void reject() override;  // Cancel, Escape and closing the window; stops a filter check

private:
    QWidget* buildProtocolTab();
    QWidget* buildAddressTab();
    void addEntry(FilterSide side);
    void showChoice(const FilterChoice& choice);
    bool checkCompiles(const QString& expression, QString* error);
    void stopCheck();

    QTabWidget* m_tabs;
    QCheckBox* m_tcp = nullptr;
    QCheckBox* m_udp = nullptr;
    QCheckBox* m_lo = nullptr;
    QLineEdit* m_dstAddress = nullptr;
    QLineEdit* m_dstPort = nullptr;
    QLineEdit* m_srcAddress = nullptr;
    QLineEdit* m_srcPort = nullptr;
    QListWidget* m_dstList = nullptr;
    QListWidget* m_srcList = nullptr;
    QPushButton* m_dstAdd = nullptr;
    QPushButton* m_srcAdd = nullptr;
    QPushButton* m_del = nullptr;
    QRadioButton* m_or = nullptr;
    QRadioButton* m_and = nullptr;
    QLineEdit* m_inForce = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_checking = nullptr;
    std::function<void()> m_stopCheck;  // set while a filter check runs
    std::function<void(const QString&)> m_applyDisplay;  // set in display mode
    QLabel* m_loLabel = nullptr;

    Relationship m_relationship = Relationship::None;
    int m_tcpFlag = 1;
    int m_udpFlag = 0;
};
