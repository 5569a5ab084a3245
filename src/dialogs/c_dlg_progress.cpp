#include "dialogs/c_dlg_progress.h"

#include "dialogs/dialog_text.h"
#include "session/remote_session.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <climits>

using dialog_text::toQt;

namespace {

constexpr int64_t kKilobyte = 1024;

int barValue(int64_t bytes)
{
    const int64_t kilobytes = bytes / kKilobyte;
    return kilobytes > INT_MAX ? INT_MAX : static_cast<int>(kilobytes);
}

} // namespace

CDlgProgress::CDlgProgress(const UiStrings& strings, RemoteSession& client, QWidget* parent)
    : QDialog(parent)
    , client_(client)
    , file_(new QLabel(this))
    , folder_(new QLabel(this))
    , bytes_(new QLabel(this))
    , status_(new QLabel(this))
    , bar_(new QProgressBar(this))
    , cancelButton_(new QPushButton(strings("button.cancel"), this))
    , timer_(new QTimer(this))
{
    setWindowTitle(strings("progress.title"));
    setWindowIcon(app_icons::idle());
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    form->addRow(strings("progress.file"), file_);
    form->addRow(strings("progress.folder"), folder_);
    form->addRow(strings("progress.bytes"), bytes_);
    layout->addLayout(form);
    layout->addWidget(bar_);
    status_->setTextFormat(Qt::PlainText);
    layout->addWidget(status_);
    layout->addWidget(cancelButton_, 0, Qt::AlignRight);
    connect(cancelButton_, &QPushButton::clicked, this, &CDlgProgress::cancel);
    bar_->setRange(0, 0);
    bar_->setValue(0);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &CDlgProgress::tick);
    setMinimumWidth(420);
}

CDlgProgress::~CDlgProgress()
{
    cancelRequested_ = true;
    if (worker_.joinable())
        worker_.join();
    if (sinkInstalled_)
        client_.setEventSink(previousSink_);
}

void CDlgProgress::setTickInterval(int milliseconds)
{
    timer_->setInterval(milliseconds);
}

int64_t CDlgProgress::batchTotal(const std::vector<FtpOperation>& batch)
{
    int64_t total = kKilobyte;
    for (const FtpOperation& operation : batch) {
        const int64_t size = operation.size > 0 ? operation.size : 0;
        total += size == 0 ? kKilobyte : (size + kKilobyte - 1) / kKilobyte * kKilobyte;
    }
    return total;
}

void CDlgProgress::start()
{
    running_ = true;
    if (work_) {
        previousSink_ = client_.setEventSink(this);
        sinkInstalled_ = true;
        worker_ = std::jthread([this] { work_(*this); });
    } else {
        total_ = batchTotal(batch_);
        bar_->setRange(0, barValue(total_));
        worker_ = std::jthread([this] {
            FtpEventSink* previous = client_.setEventSink(this);
            try {
                (void)client_.runOperations(batch_);
            } catch (...) {
                // A failed batch ends quietly; the dialog closes at the next tick.
            }
            client_.setEventSink(previous);
            running_ = false;
        });
    }
    timer_->start();
}

int CDlgProgress::run()
{
    start();
    return exec();
}

void CDlgProgress::tick()
{
    if (running_)
        return;
    timer_->stop();
    if (worker_.joinable())
        worker_.join();
    if (sinkInstalled_) {
        client_.setEventSink(previousSink_);
        sinkInstalled_ = false;
    }
    QDialog::done(QDialog::Accepted);
}

void CDlgProgress::post(std::function<void()> update)
{
    QMetaObject::invokeMethod(this, std::move(update), Qt::QueuedConnection);
}

void CDlgProgress::onTotalSize(int64_t bytes)
{
    total_ = bytes;
    post([this, bytes] { bar_->setRange(0, barValue(bytes)); });
}

void CDlgProgress::onUploadBegins(const std::string& path, int64_t size)
{
    itemSize_ = size;
    itemDone_ = 0;
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    post([this, name, folder] {
        file_->setText(toQt(name));
        folder_->setText(toQt(folder));
    });
}

void CDlgProgress::onFileSize(int64_t size)
{
    itemSize_ = size;
    itemDone_ = 0;
}

void CDlgProgress::onBytes(int64_t bytes)
{
    const int64_t itemDone = itemDone_ += bytes;
    const int64_t overall = done_ += bytes;
    const int64_t expected = itemSize_;
    post([this, itemDone, overall, expected] { showBytes(itemDone, expected, overall); });
}

void CDlgProgress::showBytes(int64_t itemDone, int64_t expected, int64_t overall)
{
    if (expected > 0)
        bytes_->setText(QStringLiteral("%1/%2").arg(itemDone / kKilobyte).arg(expected / kKilobyte));
    else
        bytes_->setText(QString::number(itemDone / kKilobyte));
    bar_->setValue(std::min(barValue(overall), bar_->maximum()));
}

void CDlgProgress::onLine(const std::string& text)
{
    post([this, text] { status_->setText(toQt(text)); });
}
