#include "backend/recording/recording_state.h"

void RecordingState::emit(const TraceLine& line) {
    std::lock_guard<std::mutex> lock(traceMutex);
    if (keeping) kept.push_back(line.str());
    if (output != nullptr) {
        std::fputs(line.str().c_str(), output);
        std::fputc('\n', output);
    }
}

std::vector<std::string> RecordingState::lines() const {
    std::lock_guard<std::mutex> lock(traceMutex);
    return kept;
}

void RecordingState::clear() {
    std::lock_guard<std::mutex> lock(traceMutex);
    kept.clear();
}

void RecordingState::keep(bool on) {
    std::lock_guard<std::mutex> lock(traceMutex);
    keeping = on;
}

void RecordingState::writeTo(std::FILE* out) {
    std::lock_guard<std::mutex> lock(traceMutex);
    output = out;
}

void RecordingState::flush() {
    std::lock_guard<std::mutex> lock(traceMutex);
    if (output != nullptr) std::fflush(output);
}

void RecordingState::queue(const std::string& operation, int64_t value, int times) {
    auto& values = queued[operation];
    for (int i = 0; i < times; ++i) values.push_back(value);
}

bool RecordingState::take(const std::string& label, const char* operation, int64_t* value) {
    for (const std::string& key : {label + "." + operation, std::string(operation)}) {
        auto found = queued.find(key);
        if (found != queued.end() && !found->second.empty()) {
            *value = found->second.front();
            found->second.pop_front();
            return true;
        }
    }
    return false;
}

HRESULT RecordingState::result(const std::string& label, const char* operation) {
    int64_t value = 0;
    return take(label, operation, &value) ? static_cast<HRESULT>(value) : S_OK;
}

HRESULT RecordingState::result(const std::string& label, const char* operation, bool valid,
                               HRESULT refusal) {
    HRESULT hr = result(label, operation);
    return SUCCEEDED(hr) && !valid ? refusal : hr;
}

std::string RecordingState::nextLabel(const std::string& kind) {
    return kind + std::to_string(++counters[kind]);
}

std::string RecordingState::handle(const void* value, const char* kind) {
    if (value == nullptr) return "NULL";
    auto found = handles.find(value);
    if (found != handles.end()) return found->second;
    std::string label = nextLabel(kind);
    handles.emplace(value, label);
    return label;
}
