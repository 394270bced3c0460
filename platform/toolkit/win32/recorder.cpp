// The toolkit's recorder in the Windows builds: no fault checks and no report; notes go to the
// debugger, where a developer looking at a failed run can read why a step failed.
#include "toolkit/core.h"

namespace toolkit {
namespace {

class DebuggerRecorder : public Recorder {
  public:
    void Note(std::string_view text) override {
        std::string line(text);
        OutputDebugStringA(line.c_str());
    }
};

} // namespace

Recorder& CurrentRecorder() {
    static DebuggerRecorder recorder;
    return recorder;
}

} // namespace toolkit
