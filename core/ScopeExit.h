// Runs a step when the scope ends, however it ends: a lock left or a gate freed even when an
// exception carries a message out of the scope.
#pragma once

#include <utility>

template <class Step>
class ScopeExit {
public:
    explicit ScopeExit(Step step) : m_Step(std::move(step)) {}
    ~ScopeExit() { m_Step(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Step m_Step;
};
