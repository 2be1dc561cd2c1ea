#include "windowapplication.h"

#include "reportsending.h"

WindowApplication::WindowApplication(int &argc, char **argv) : QApplication(argc, argv) {}

WindowApplication::~WindowApplication()
{
    drop();
}

void WindowApplication::bundleReportsTo(QObject *receiver)
{
    auto *application = dynamic_cast<WindowApplication *>(QCoreApplication::instance());
    if (!application)
        return;
    {
        const std::lock_guard<std::mutex> lock(application->mutex);
        application->window.store(receiver);
    }
    // Its waiting calls go with it, the first of each bundle among them.
    connect(receiver, &QObject::destroyed, application,
            [application, receiver] { application->drop(receiver); });
}

void WindowApplication::drop(const QObject *receiver)
{
    std::deque<Bundle> left;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!receiver || window.load() == receiver)
            window.store(nullptr);
        std::deque<Bundle> kept;
        for (Bundle &bundle : bundles)
            (!receiver || bundle.to == receiver ? left : kept).push_back(std::move(bundle));
        bundles.swap(kept);
        nextFirst.store(bundles.empty() ? nullptr : bundles.front().first);
    }
    for (const Bundle &bundle : left)
        qDeleteAll(bundle.following);
}

// On the thread that posts, with the toolkit's list of the window's thread
// locked; called only while the receiver has a call waiting in that list.
bool WindowApplication::compressEvent(QEvent *event, QObject *receiver, QPostEventList *posted)
{
    if (event->type() != QEvent::MetaCall || receiver != window.load())
        return QApplication::compressEvent(event, receiver, posted);
    reportsending::Count &count = reportsending::thisThread();
    const std::lock_guard<std::mutex> lock(mutex);
    if (receiver != window.load())
        return QApplication::compressEvent(event, receiver, posted);
    if (!count.sending) {
        // Any other call comes after the reports sent before it.
        if (!bundles.empty())
            bundles.back().open = false;
        return QApplication::compressEvent(event, receiver, posted);
    }
    // A report of this thread that never came here went to the window the
    // ordinary way, so the call this bundle follows had been delivered:
    // what comes now must follow that report, not the bundle.
    const bool reportWentPast = count.taken + 1 != count.sent;
    count.taken = count.sent;
    if (reportWentPast || bundles.empty() || !bundles.back().open) {
        bundles.push_back({receiver, event, {}, true});
        if (bundles.size() == 1)
            nextFirst.store(event);
        return false;
    }
    bundles.back().following.push_back(event);
    bundled.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool WindowApplication::notify(QObject *receiver, QEvent *event)
{
    const bool first = event->type() == QEvent::MetaCall && event == nextFirst.load();
    const bool delivered = QApplication::notify(receiver, event);
    if (first)
        deliverFollowing(receiver);
    return delivered;
}

void WindowApplication::deliverFollowing(QObject *receiver)
{
    std::vector<QEvent *> following;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (bundles.empty())
            return;
        following.swap(bundles.front().following);
        bundles.pop_front();
        nextFirst.store(bundles.empty() ? nullptr : bundles.front().first);
    }
    // Straight to the window, as the toolkit hands a queued call on: a call
    // has no filters to pass, and the delivery of the first call is still
    // under way around these.
    for (QEvent *report : following) {
        receiver->event(report);
        delete report;
    }
}
