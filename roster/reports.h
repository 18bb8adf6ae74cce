// The report generator: chosen fields of the user records in columns, to
// the screen, to a file or to the printer.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "common/user_record.h"

namespace kv::roster {

inline constexpr int kReportFields = 26;
inline constexpr const char* kReportFile = "/tmp/kvroster.lst";
enum ReportDestination { kToFile = 0, kToScreen = 1, kToPrinter = 2 };

struct ReportField {
    std::string Title;    // in the field list
    std::string Heading;  // over the column
    int Width = 0;
    bool Selected = false;
    int Order = -1;       // place among the chosen fields, -1 when not chosen
};

struct ReportSettings {
    std::array<ReportField, kReportFields> fields;
    int records = 0;     // records to list
    int pageWidth = 80;  // 80 or 132
    int usedWidth = 0;   // sum of width + 1 over the chosen fields
    int chosen = 0;
    int destination = kToScreen;
    std::string fileName = kReportFile;
};

// The start values: no field chosen, the three text fields at their first
// widths, the phones as wide as the configuration's phone template.
ReportSettings NewReport(int records, int phoneWidth);
void ResetReport(ReportSettings& r);
// The widest a name, location or password column may be made (fields 0-2).
int MaxFieldWidth(int field);
// Whether field fits on the page at that width beside the chosen ones.
bool FieldFits(const ReportSettings& r, int field, int width);
// Choosing puts the field last; unchoosing closes the gap it leaves.
void ChooseField(ReportSettings& r, int field);
void UnchooseField(ReportSettings& r, int field);
// The chosen fields in their order.
std::vector<int> ChosenFields(const ReportSettings& r);

// A line of width blanks with each chosen heading, cut to its field's
// width, where its column starts.
std::string FormatReportHeader(const ReportSettings& r, int width);
// The chosen fields of one record in their columns, cut at the page width.
std::string FormatReportLine(const ReportSettings& r, const UserRecord& u);
// The whole paginated report (file or printer) with its page headers and
// footers: 54 records a page, each page ended by the footer and a form feed.
std::string PaginatedReport(const ReportSettings& r, const std::vector<UserRecord>& users, const std::string& date,
                            const std::string& time, const std::string& systemName);

// The main-menu handler; returns 0.
int RunReports();

}  // namespace kv::roster
