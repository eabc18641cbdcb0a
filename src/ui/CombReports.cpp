#include "ui/CombReports.h"

#include <memory>
#include <vector>

namespace harvix {

CombReports::Link* CombReports::makeLink() {
    // Links are never freed: a comb thread still inside a report while the
    // program ends never touches freed memory. There is one per main
    // window, so one per process outside the tests.
    static std::mutex listLock;
    static auto* all = new std::vector<std::unique_ptr<Link>>;
    const std::lock_guard<std::mutex> guard(listLock);
    all->push_back(std::make_unique<Link>());
    return all->back().get();
}

CombReports::CombReports(QObject* parent) : QObject(parent), link_(makeLink()) {
    link_->reports = this;
}

CombReports::~CombReports() {
    const std::lock_guard<std::mutex> guard(link_->lock);
    link_->reports = nullptr;
}

void CombReports::onRunState(void* context, int32_t started) {
    auto* link = static_cast<Link*>(context);
    if (link == nullptr) {
        return;
    }
    const std::lock_guard<std::mutex> guard(link->lock);
    if (link->reports != nullptr) {
        emit link->reports->runStateChanged(started != 0);
    }
}

void CombReports::onProgress(void* context, int32_t percent) {
    auto* link = static_cast<Link*>(context);
    if (link == nullptr) {
        return;
    }
    const std::lock_guard<std::mutex> guard(link->lock);
    if (link->reports != nullptr) {
        emit link->reports->progressed(percent);
    }
}

}  // namespace harvix
