// The "Reception" group of the options page: the TCP and TLS ports (0 or
// empty: off) and the TLS certificate, key and CA files. Its keys are
// optional: a save writes one only when it has a value or the settings
// already held it, so a file that never used them keeps its keys as they were.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QSpinBox>

#include "EditorPage.h"

#include <nlohmann/json.hpp>

namespace brantwell {

class ReceptionGroup final : public QGroupBox {
    Q_OBJECT
public:
    explicit ReceptionGroup(QWidget* parent);

    void load(const nlohmann::json& settings);
    void store(nlohmann::json& settings) const;
    // Why the ports cannot be saved as typed; empty when they can.
    QString problem() const;


Q_SIGNALS:
    void edited();

private:
    PortField* tcpPort_ = nullptr;
    PortField* tlsPort_ = nullptr;
    QLineEdit* certificate_ = nullptr;
    QLineEdit* key_ = nullptr;
    QLineEdit* caFile_ = nullptr;
};

} // namespace brantwell
