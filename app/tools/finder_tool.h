#pragma once
// A tool that looks for something in the whole picture on a thread of its
// own while the window stays live, and places what it found as points: the
// map frame's corners, and every finder after them. Its action starts it;
// while it runs the action is off, the cursor busy and the status bar says
// what it looks for, and no other picture may be opened (the search reads
// the bitmap).
#include "app/latest_job.h"
#include "app/tools/tool_context.h"

#include <QObject>

#include <functional>

class QAction;
class TBitmap;

class TFinderTool : public QObject {
    Q_OBJECT
public:
    TFinderTool(const TToolContext& context, const QString& caption, const QString& tip, QObject* parent = nullptr);
    ~TFinderTool() override;

    QAction* Action() const { return FAction; }
    bool Running() const { return FRunning; }
    // Raises when there is no picture to look in.
    void Start();

signals:
    void runningChanged(bool running);

protected:
    // What runs on the GUI thread once the search is done.
    using TFound = std::function<void()>;
    // The search, run on the worker thread over the bitmap; it may not
    // touch the tool, only hand back what runs afterwards.
    using TSearch = std::function<TFound(const TBitmap& bitmap)>;
    virtual TSearch Search() const = 0;
    // Runs on the GUI thread before the search starts (a dialog of what to
    // look for); false leaves it unstarted.
    virtual bool Prepare() { return true; }
    virtual QString BusyText() const = 0;
    virtual QString NoPictureText() const = 0;
    const TToolContext& Context() const { return FContext; }

private:
    void SetRunning(bool running);

    TToolContext FContext;
    QAction* FAction;
    bool FRunning = false;
    TLatestJob FJob;
};
