#include "skinscrollbar.h"

#include "artwork.h"
#include "memdc.h"
#include "skinlistctrl.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTimerEvent>
#include <cmath>

namespace qs::skin {

namespace {

// Bitmap numbers of the two bars.
constexpr int kHTrack = 232, kHLeft = 233, kHRight = 231, kHThumb = 243;
constexpr int kHTrackOff = 382, kHLeftOff = 380, kHRightOff = 381;
constexpr int kVTrack = 235, kVUp = 234, kVDown = 237, kVThumb = 236;
constexpr int kVTrackOff = 384, kVUpOff = 383, kVDownOff = 385;

}  // namespace

// Window timers of a bar, mapped from the bar's numbers to Qt's.
class WindowTimers final : public BarTimers {
public:
    explicit WindowTimers(SkinScrollbarBase* bar) : bar_(bar) {}
    void start(int id, int ms) override { m_timers[id].start(ms, bar_); }
    void stop(int id) override { m_timers[id].stop(); }
    bool active(int id) const override {
        auto it = m_timers.find(id);
        return it != m_timers.end() && it->second.isActive();
    }
    int idOf(int qtTimerId) const {
        for (const auto& [id, t] : m_timers)
            if (t.timerId() == qtTimerId) return id;
        return 0;
    }

private:
    SkinScrollbarBase* bar_;
    std::map<int, QBasicTimer> m_timers;
};

SkinScrollbarBase::SkinScrollbarBase(QWidget* parent) : QWidget(parent), m_timers(new WindowTimers(this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

SkinScrollbarBase::~SkinScrollbarBase() = default;

void SkinScrollbarBase::setTimers(std::unique_ptr<BarTimers> timers) { m_timers = std::move(timers); }

void SkinScrollbarBase::paintEvent(QPaintEvent*) {
    QPainter screen(this);
    CMemDC mem(&screen, rect());
    drawBar(mem.painter());
}

void SkinScrollbarBase::timerEvent(QTimerEvent* e) {
    auto* window = dynamic_cast<WindowTimers*>(m_timers.get());
    if (!window) return;
    if (const int id = window->idOf(e->timerId())) onTimer(id);
}

// ---- horizontal --------------------------------------------------------

bool CSkinHorizontalScrollbar::enabledLook() const { return m_pList && m_pList->horizontalLimit() != 0; }

void CSkinHorizontalScrollbar::drawBar(QPainter& p) {
    const int W = width();
    p.fillRect(rect(), Qt::white);
    const bool on = enabledLook();
    const QImage track = artwork::bitmap(on ? kHTrack : kHTrackOff);
    blit(p, QRect(15, 0, W - 27, 18), track, QRect(0, 0, 1, 18));
    blit(p, QRect(0, 0, 16, 14), artwork::bitmap(on ? kHLeft : kHLeftOff));
    blit(p, QRect(W - 16, 0, 16, 14), artwork::bitmap(on ? kHRight : kHRightOff));
    if (on) blit(p, QRect(nThumbLeft - 4, 0, 26, 26), artwork::bitmap(kHThumb));
}

void CSkinHorizontalScrollbar::UpdateThumbPosition() {
    if (!m_pList) return;
    const int limit = m_pList->horizontalLimit();
    if (limit > 0) {
        dbThumbInterval = double(width() - 60) / limit;
        nThumbLeft = static_cast<int>(std::trunc(dbThumbInterval * m_pList->horizontalPosition())) + 20;
    } else {
        nThumbLeft = 20;
    }
    LimitThumbPosition();
    Draw();
}

void CSkinHorizontalScrollbar::LimitThumbPosition() {
    if (nThumbLeft > width() - 42) nThumbLeft = width() - 38;
    if (nThumbLeft < 20) nThumbLeft = 20;
}

void CSkinHorizontalScrollbar::LineLeft() {
    if (m_pList) m_pList->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    UpdateThumbPosition();
}
void CSkinHorizontalScrollbar::LineRight() {
    if (m_pList) m_pList->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    UpdateThumbPosition();
}
void CSkinHorizontalScrollbar::PageLeft() {
    if (m_pList) m_pList->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    UpdateThumbPosition();
}
void CSkinHorizontalScrollbar::PageRight() {
    if (m_pList) m_pList->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    UpdateThumbPosition();
}

void CSkinHorizontalScrollbar::onTimer(int id) {
    if (id == kTimerRepeat) {
        if (bMouseDownArrowRight) LineRight();
        if (bMouseDownArrowLeft) LineLeft();
    } else if (id == kTimerStartDelay && (bMouseDownArrowRight || bMouseDownArrowLeft)) {
        m_timers->stop(kTimerStartDelay);
        m_timers->start(kTimerRepeat, kRepeatMs);
    }
}

void CSkinHorizontalScrollbar::mousePressEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    if (thumbArea().contains(pt)) {
        bMouseDown = true;
    } else if (endArrowArea().contains(pt)) {
        bMouseDownArrowRight = true;
        m_timers->start(kTimerStartDelay, kStartDelayMs);
    } else if (startArrowArea().contains(pt)) {
        bMouseDownArrowLeft = true;
        m_timers->start(kTimerStartDelay, kStartDelayMs);
    }
    QWidget::mousePressEvent(e);
}

void CSkinHorizontalScrollbar::mouseMoveEvent(QMouseEvent* e) {
    if (bMouseDown) bDragging = true;
    // With nothing to scroll (limit 0) there is nothing to drag.
    if (bDragging && m_pList && m_pList->horizontalLimit() > 0) {
        nThumbLeft = static_cast<int>(e->position().x()) - 13;
        const double scale = double(width() - 75) / m_pList->horizontalLimit();
        const int target = scale > 0 ? static_cast<int>(std::trunc((nThumbLeft - 25) / scale)) : 0;
        m_pList->scrollPixels(target - m_pList->horizontalPosition());
        LimitThumbPosition();
        Draw();
    }
    QWidget::mouseMoveEvent(e);
}

void CSkinHorizontalScrollbar::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    UpdateThumbPosition();
    m_timers->stop(kTimerRepeat);
    m_timers->stop(kTimerStartDelay);  // a quick click must not leave it running
    if (startArrowArea().contains(pt)) {
        LineLeft();
    } else if (endArrowArea().contains(pt)) {
        LineRight();
    } else if (!thumbArea().contains(pt) && !bMouseDown) {
        if (nThumbLeft < pt.x())
            PageRight();
        else
            PageLeft();
    }
    bMouseDownArrowLeft = bMouseDownArrowRight = bDragging = bMouseDown = false;
    QWidget::mouseReleaseEvent(e);
}

// ---- vertical ----------------------------------------------------------

bool CSkinVerticleScrollbar::enabledLook() const { return m_pList && m_pList->verticalLimit() != 0; }

void CSkinVerticleScrollbar::drawBar(QPainter& p) {
    const int H = height();
    p.fillRect(rect(), Qt::black);
    const bool on = enabledLook();
    blit(p, QRect(0, 9, 18, H - 18), artwork::bitmap(on ? kVTrack : kVTrackOff), QRect(0, 0, 18, 1));
    blit(p, QRect(0, 0, 14, 18), artwork::bitmap(on ? kVUp : kVUpOff));
    blit(p, QRect(0, H - 16, 14, 18), artwork::bitmap(on ? kVDown : kVDownOff));
    if (on) blit(p, QRect(0, nThumbTop - 4, 14, 26), artwork::bitmap(kVThumb));
}

void CSkinVerticleScrollbar::UpdateThumbPosition() {
    if (!m_pList) return;
    const int limit = m_pList->verticalLimit();
    if (limit > 0) {
        dbThumbInterval = double(height() - 80) / limit;
        nThumbTop = static_cast<int>(std::trunc(dbThumbInterval * m_pList->verticalPosition())) + 20;
    } else {
        nThumbTop = 20;
    }
    LimitThumbPosition();
    Draw();
}

void CSkinVerticleScrollbar::LimitThumbPosition() {
    if (nThumbTop + 26 > height() - 40) nThumbTop = height() - 38;
    if (nThumbTop < 20) nThumbTop = 20;
}

void CSkinVerticleScrollbar::LineUp() {
    if (m_pList) m_pList->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    UpdateThumbPosition();
}
void CSkinVerticleScrollbar::LineDown() {
    if (m_pList) m_pList->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    UpdateThumbPosition();
}
void CSkinVerticleScrollbar::PageUp() {
    if (m_pList) m_pList->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    UpdateThumbPosition();
}
void CSkinVerticleScrollbar::PageDown() {
    if (m_pList) m_pList->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    UpdateThumbPosition();
}

void CSkinVerticleScrollbar::onTimer(int id) {
    if (id == kTimerRepeat) {
        if (bMouseDownArrowDown) LineDown();
        if (bMouseDownArrowUp) LineUp();
    } else if (id == kTimerStartDelay && (bMouseDownArrowDown || bMouseDownArrowUp)) {
        m_timers->stop(kTimerStartDelay);
        m_timers->start(kTimerRepeat, kRepeatMs);
    }
}

void CSkinVerticleScrollbar::mousePressEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    if (thumbArea().contains(pt)) {
        bMouseDown = true;
    } else if (endArrowArea().contains(pt)) {
        bMouseDownArrowDown = true;
        m_timers->start(kTimerStartDelay, kStartDelayMs);
    } else if (startArrowArea().contains(pt)) {
        bMouseDownArrowUp = true;
        m_timers->start(kTimerStartDelay, kStartDelayMs);
    }
    QWidget::mousePressEvent(e);
}

void CSkinVerticleScrollbar::mouseMoveEvent(QMouseEvent* e) {
    // With nothing to scroll (limit 0) there is nothing to drag.
    if (bMouseDown && m_pList && m_pList->verticalLimit() > 0) {
        nThumbTop = static_cast<int>(e->position().y()) - 13;
        const double scale = double(height() - 80) / m_pList->verticalLimit();
        const int target = scale > 0 ? static_cast<int>(std::trunc((nThumbTop - 20) / scale)) : 0;
        // The list moves by whole rows (row height x rows in pixels).
        m_pList->scrollRows(target - m_pList->verticalPosition());
        LimitThumbPosition();
        Draw();
    }
    QWidget::mouseMoveEvent(e);
}

void CSkinVerticleScrollbar::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    UpdateThumbPosition();
    m_timers->stop(kTimerRepeat);
    m_timers->stop(kTimerStartDelay);
    bool done = false;
    if (startArrowArea().contains(pt) && bMouseDownArrowUp) {
        LineUp();
        done = true;
    } else if (endArrowArea().contains(pt) && bMouseDownArrowDown) {
        LineDown();
        done = true;
    }
    if (!done && !thumbArea().contains(pt) && !bMouseDown) {
        if (nThumbTop < pt.y())
            PageDown();
        else
            PageUp();
    }
    bMouseDownArrowUp = bMouseDownArrowDown = bDragging = bMouseDown = false;
    QWidget::mouseReleaseEvent(e);
}

}  // namespace qs::skin
