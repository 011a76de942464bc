// The report component of the information sheet: its template (built from the sheet's
// description) and its print command.
#pragma once

#include <string_view>

#include "engine/exceptions.h"
#include "report/template.h"

namespace atua::report {

// A failure of the printing platform (no default printer, a refused job, a drawing error).
class EPrinter : public Exception {
public:
    using Exception::Exception;
    std::string_view ClassName() const noexcept override { return "EPrinter"; }
};

class TQuickRep {
public:
    TQuickRep();
    TQuickRep(const TQuickRep&) = delete;
    TQuickRep& operator=(const TQuickRep&) = delete;

    // Prints the sheet on the system's default printer and returns once the job is in its queue.
    // Does nothing while a sheet is being produced, or when no printer is installed.
    // Throws EPrinter when the platform refuses.
    void Print();

    // The whole template, as the layout reads it.
    SheetTemplate Template() const;

    TQRReportSettings Settings;
    TQRBand QRBand1;
    TQRLabel asd;
    TQRBand QRBand2;
    TQRRichText QRRichText1;

private:
    bool producing_ = false;
};

}  // namespace atua::report
