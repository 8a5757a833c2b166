#include "app/ui/find_dialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>

#include "app/ui/ui_common.h"

namespace varnok::ui {

namespace {

constexpr uint64_t kUnits[] = {1048576, 1024, 1};

int64_t DayStart(const QDate& d) {
    return QDateTime(d, QTime(0, 0)).toSecsSinceEpoch();
}

}  // namespace

FindDialog::FindDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Find file(s) in archive..."));
    auto* layout = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    layout->addWidget(pages_);

    auto* byName = new QWidget(pages_);
    auto* nf = new QFormLayout(byName);
    pattern_ = new QLineEdit(QStringLiteral("*.*"), byName);
    pattern_->setObjectName(QStringLiteral("pattern"));
    nf->addRow(QStringLiteral("Filename:"), pattern_);
    pages_->addTab(byName, QStringLiteral("by Filename"));

    auto* byDate = new QWidget(pages_);
    auto* dg = new QGridLayout(byDate);
    before_ = new QRadioButton(QStringLiteral("Before"), byDate);
    dateBetween_ = new QRadioButton(QStringLiteral("Between"), byDate);
    after_ = new QRadioButton(QStringLiteral("After"), byDate);
    before_->setChecked(true);
    date1_ = new QDateEdit(QDate::currentDate(), byDate);
    date2_ = new QDateEdit(QDate::currentDate(), byDate);
    date1_->setCalendarPopup(true);
    date2_->setCalendarPopup(true);
    dg->addWidget(before_, 0, 0);
    dg->addWidget(dateBetween_, 1, 0);
    dg->addWidget(after_, 2, 0);
    dg->addWidget(date1_, 0, 1);
    dg->addWidget(date2_, 1, 1);
    pages_->addTab(byDate, QStringLiteral("by Date"));
    auto dateMode = [this] { date2_->setEnabled(dateBetween_->isChecked()); };
    for (QRadioButton* b : {before_, dateBetween_, after_})
        connect(b, &QRadioButton::toggled, this, dateMode);
    dateMode();

    auto* bySize = new QWidget(pages_);
    auto* sg = new QGridLayout(bySize);
    above_ = new QRadioButton(QStringLiteral("Above (>)"), bySize);
    fit_ = new QRadioButton(QStringLiteral("Fit (=)"), bySize);
    below_ = new QRadioButton(QStringLiteral("Below (<)"), bySize);
    sizeBetween_ = new QRadioButton(QStringLiteral("Between"), bySize);
    above_->setChecked(true);
    size1_ = new QLineEdit(QStringLiteral("0"), bySize);
    size2_ = new QLineEdit(QStringLiteral("0"), bySize);
    unit_ = new QComboBox(bySize);
    unit_->addItems({QStringLiteral("MB"), QStringLiteral("KB"), QStringLiteral("Bytes")});
    unit_->setCurrentIndex(unitIndex_);
    sg->addWidget(above_, 0, 0);
    sg->addWidget(fit_, 1, 0);
    sg->addWidget(below_, 2, 0);
    sg->addWidget(sizeBetween_, 3, 0);
    sg->addWidget(size1_, 0, 1);
    sg->addWidget(size2_, 3, 1);
    sg->addWidget(unit_, 0, 2);
    pages_->addTab(bySize, QStringLiteral("by Size"));
    auto sizeMode = [this] { size2_->setEnabled(sizeBetween_->isChecked()); };
    for (QRadioButton* b : {above_, fit_, below_, sizeBetween_})
        connect(b, &QRadioButton::toggled, this, sizeMode);
    sizeMode();
    connect(unit_, &QComboBox::currentIndexChanged, this, &FindDialog::UnitChanged);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* search = buttons->addButton(QStringLiteral("&Search"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    search->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void FindDialog::UnitChanged(int index) {
    if (index < 0 || index > 2) return;
    // Both numbers keep their size in bytes, rounded to the new unit.
    for (QLineEdit* f : {size1_, size2_}) {
        const double bytes = static_cast<double>(app::FindNumber(S(f->text()))) *
                             static_cast<double>(kUnits[static_cast<size_t>(unitIndex_)]);
        const double v = std::round(bytes / static_cast<double>(kUnits[static_cast<size_t>(index)]));
        f->setText(QString::number(static_cast<qulonglong>(v)));
    }
    unitIndex_ = index;
}

app::FindRequest FindDialog::Request() const {
    app::FindRequest r;
    switch (pages_->currentIndex()) {
        case 1:
            r.by = app::FindRequest::By::Date;
            break;
        case 2:
            r.by = app::FindRequest::By::Size;
            break;
        default:
            r.by = app::FindRequest::By::Name;
            break;
    }
    r.pattern = S(pattern_->text().trimmed());
    r.dateMode = before_->isChecked()        ? app::FindRequest::DateMode::Before
                 : dateBetween_->isChecked() ? app::FindRequest::DateMode::Between
                                             : app::FindRequest::DateMode::After;
    r.firstDayStart = DayStart(date1_->date());
    r.firstDayEnd = DayStart(date1_->date().addDays(1));
    r.secondDayEnd = DayStart(date2_->date().addDays(1));
    r.sizeMode = above_->isChecked()   ? app::FindRequest::SizeMode::Above
                 : fit_->isChecked()   ? app::FindRequest::SizeMode::Fit
                 : below_->isChecked() ? app::FindRequest::SizeMode::Below
                                       : app::FindRequest::SizeMode::Between;
    const uint64_t unit = kUnits[static_cast<size_t>(unit_->currentIndex() < 0 ? 2 : unit_->currentIndex())];
    auto scaled = [unit](uint64_t v) { return v > UINT64_MAX / unit ? UINT64_MAX : v * unit; };
    r.first = scaled(app::FindNumber(S(size1_->text())));
    r.second = scaled(app::FindNumber(S(size2_->text())));
    return r;
}

}  // namespace varnok::ui
