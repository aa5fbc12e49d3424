#include "driver/relation_order.h"

namespace tracemill {

void RelationOrder::wait_for_turn(std::unique_lock<std::mutex>& lock, uint64_t ticket) {
    turn_changed_.wait(lock, [&] { return next_ticket_ == ticket; });
}

FileRelation RelationOrder::relate(uint64_t ticket, const FileInfo& info) {
    std::unique_lock<std::mutex> lock(mutex_);
    wait_for_turn(lock, ticket);
    const FileRelation relation = relate_to_previous(previous_, info);
    previous_ = info;
    ++next_ticket_;
    turn_changed_.notify_all();
    return relation;
}

void RelationOrder::pass(uint64_t ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Only a ticket's own holder moves the turn past it.
    if (next_ticket_ > ticket) return;
    wait_for_turn(lock, ticket);
    ++next_ticket_;
    turn_changed_.notify_all();
}

}  // namespace tracemill
