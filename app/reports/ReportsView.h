// The reports page: the events of the store grouped by host, message,
// priority or date, read from all event log files or from one day's, shown
// as a table of group rows that open to show their events, and exported or
// printed as shown.
//
// A report is read, and printed, on a thread of its own while the page shows
// how far it has come, so a store of a million events never stops the window.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include "Report.h"
#include "ReportModel.h"

class QPrinter;
class QProgressDialog;

namespace brantwell {

class ReportsView final : public QWidget {
    Q_OBJECT
public:
    // `dateFormat` gives the display format in force when a report is built.
    ReportsView(std::string dataDir, std::function<std::string()> dateFormat,
                QWidget* parent = nullptr);
    ~ReportsView() override;

    // The page's buttons.
    void displayReport();
    void exportResults();
    void printResults();
    // Opens or closes the group of the selected row.
    void tableClicked();

    // What export and print do once a file or a printer is chosen. A print
    // runs on its own thread behind a progress dialog with Cancel and ends
    // with printFinished; a PDF file appears under its name only once whole.
    bool exportTo(const QString& fileName) const;
    void print(std::unique_ptr<QPrinter> printer);

    bool isBuilding() const { return job_ != nullptr; }
    bool isPrinting() const { return printJob_ != nullptr; }
    QTableView* tableView() const { return tableView_; }
    ReportModel* model() const { return model_; }
    QComboBox* reportName() const { return reportName_; }
    QComboBox* reportFilter() const { return reportFilter_; }

Q_SIGNALS:
    // A report has been read and is in the table.
    void reportShown();
    // A print has ended: `pages` printed, or 0 when cancelled or failed.
    void printFinished(int pages);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Job;
    struct PrintJob;

    void viewWillAppear();
    void choiceMade();
    void cancelBuild();
    void pollBuild();
    void applyLayout(ReportKind kind);
    void fitMessageColumn();
    void pollPrint();

    std::string dataDir_;
    std::function<std::string()> dateFormat_;
    ReportModel* model_ = nullptr;
    QComboBox* reportName_ = nullptr;
    QComboBox* reportFilter_ = nullptr;
    QPushButton* reportDisplay_ = nullptr;
    QTableView* tableView_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer poll_;
    std::unique_ptr<Job> job_;
    std::unique_ptr<PrintJob> printJob_;
    QProgressDialog* printProgress_ = nullptr;
    QTimer printPoll_;
    bool messageReport_ = false;  // the by-message layout is shown
    QString shownSource_;         // the source of the report shown, for its print
};

} // namespace brantwell
