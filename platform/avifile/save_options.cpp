// AVISaveOptions: the compression-options dialog is whatever chooser the
// user-interface toolkit installed; without one the answer is Cancel.
#include <mutex>

#include "platform/avifile/avifile.h"

namespace avifile {

namespace {
std::mutex chooserLock;
SaveOptionsChooser& Chooser()
{
    static SaveOptionsChooser chooser;
    return chooser;
}
} // namespace

SaveOptionsChooser SetSaveOptionsChooser(SaveOptionsChooser chooser)
{
    std::lock_guard<std::mutex> lock(chooserLock);
    SaveOptionsChooser previous = std::move(Chooser());
    Chooser() = std::move(chooser);
    return previous;
}

int AVISaveOptions(void* /*ownerWindow*/, UINT flags, int nStreams, PAVISTREAM* streams, LPAVICOMPRESSOPTIONS* options)
{
    if (nStreams <= 0 || !streams || !options) return 0;
    SaveOptionsChooser chooser;
    {
        std::lock_guard<std::mutex> lock(chooserLock);
        chooser = Chooser();
    }
    if (!chooser) return 0;
    for (int i = 0; i < nStreams; ++i) {
        if (!options[i]) return 0;
    }
    // All streams are answered before any record changes, so Cancel on a
    // later stream leaves every record as it was.
    std::vector<AVICOMPRESSOPTIONS> chosen;
    for (int i = 0; i < nStreams; ++i) {
        AVICOMPRESSOPTIONS work = *options[i];
        if (work.fccType == 0) work.fccType = streamtypeVIDEO;
        if (!chooser(flags, work)) return 0;
        work.dwFlags |= AVICOMPRESSF_VALID;
        chosen.push_back(work);
    }
    for (int i = 0; i < nStreams; ++i) *options[i] = chosen[static_cast<size_t>(i)];
    return 1;
}

} // namespace avifile
