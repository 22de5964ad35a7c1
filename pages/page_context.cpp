#include "pages/page_context.h"

#include "log/debug_log.h"

DebugSwitch DebugSwitchFor(C_Debug_Log& log) {
    return DebugSwitch{
        [&log] {
            bool textFile = false;
            bool dumpFile = false;
            bool textListener = false;
            bool dumpListener = false;
            log.GetOutputs(textFile, dumpFile, textListener, dumpListener);
            return textFile;
        },
        [&log](bool on) { log.SetOutputs(on, on, on, on); },
    };
}
