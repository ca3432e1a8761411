#include "app/html_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "app/file_types.h"
#include "app/option_table.h"
#include "app/report_text.h"
#include "app/treemap_layout.h"
#include "core/stable_sort.h"

namespace qm {

namespace {

// Colours are CSS variables, so the dark scheme can change them: kinds of line
// .c .m .p .b (code, comment, punctuation, blank), languages .l0 to .l8 and .lx for
// the rest, changes .ca .cm .cr (added, modified, removed). Hues from palettes made to stay apart under the
// common colour-vision deficiencies; each class colours an SVG shape (fill) or a legend swatch (background).
constexpr char kStyle[] = R"CSS(
:root{color-scheme:light dark;--bg:#fff;--fg:#1c1e23;--muted:#5a606d;--rule:#d8dbe2;--panel:#f4f5f7;
--code:#0072b2;--comment:#e69f00;--punctuation:#cc79a7;--blank:#a3a3a3;
--l0:#cc6677;--l1:#332288;--l2:#ddcc77;--l3:#117733;--l4:#88ccee;--l5:#882255;--l6:#44aa99;--l7:#999933;
--l8:#aa4499;--lx:#bbbbbb;--added:#228833;--modified:#ccbb44;--removed:#ee6677}
@media (prefers-color-scheme:dark){:root{--bg:#15171b;--fg:#e3e5ea;--muted:#a2a8b5;--rule:#363a44;
--panel:#1f2228;--code:#56b4e9;--blank:#7a7a7a;--l1:#6f63c4;--l5:#b9577e;--lx:#8a8a8a}}
*{box-sizing:border-box}
body{margin:0 auto;max-width:1240px;padding:1.2rem 1.5rem 2rem;background:var(--bg);color:var(--fg);
font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Noto Sans",sans-serif}
h1{font-size:1.55rem;margin:0 0 .6rem;overflow-wrap:anywhere}
h2{font-size:1.2rem;margin:2rem 0 .6rem;padding-bottom:.2rem;border-bottom:1px solid var(--rule)}
h3{font-size:1rem;margin:1rem 0 .3rem}
code{font:.88em ui-monospace,SFMono-Regular,Menlo,Consolas,"DejaVu Sans Mono",monospace;overflow-wrap:anywhere}
p,figcaption{max-width:60rem}
.muted{color:var(--muted)}
dl.facts{display:grid;grid-template-columns:max-content 1fr;gap:.15rem 1rem;margin:0 0 1rem}
dl.facts dt{color:var(--muted)}
dl.facts dd{margin:0}
ul.totals{display:flex;flex-wrap:wrap;gap:.6rem 2.2rem;list-style:none;padding:.8rem 1rem;margin:0;
background:var(--panel);border-radius:6px}
ul.totals b{display:block;font-size:1.6rem;font-variant-numeric:tabular-nums}
nav ul{display:flex;flex-wrap:wrap;gap:.2rem 1.2rem;list-style:none;padding:0;margin:1rem 0 0}
a{color:inherit}
table{border-collapse:collapse;margin:.6rem 0 1rem;font-variant-numeric:tabular-nums}
th,td{padding:.18rem .6rem;border-bottom:1px solid var(--rule);text-align:left;vertical-align:top}
.n{text-align:right;white-space:nowrap}
thead th{font-weight:600;color:var(--muted)}
tfoot th,tfoot td{font-weight:600}tfoot tr:first-child>*{border-top:2px solid var(--fg)}
th[tabindex]{cursor:pointer}
th[aria-sort=descending]::after{content:" \25BE"}
th[aria-sort=ascending]::after{content:" \25B4"}
figure{margin:0}
svg{display:block;width:100%;height:auto}
svg text{fill:var(--fg);font-size:12px;pointer-events:none}
.legend{display:flex;flex-wrap:wrap;gap:.15rem 1.1rem;list-style:none;padding:0;margin:.4rem 0;font-size:.9em}
.swatch{display:inline-block;width:.85em;height:.85em;margin-right:.35em;vertical-align:-.08em;border-radius:2px}
.c{fill:var(--code);background:var(--code)}.m{fill:var(--comment);background:var(--comment)}
.p{fill:var(--punctuation);background:var(--punctuation)}.b{fill:var(--blank);background:var(--blank)}
.l0{fill:var(--l0);background:var(--l0)}.l1{fill:var(--l1);background:var(--l1)}
.l2{fill:var(--l2);background:var(--l2)}.l3{fill:var(--l3);background:var(--l3)}
.l4{fill:var(--l4);background:var(--l4)}.l5{fill:var(--l5);background:var(--l5)}
.l6{fill:var(--l6);background:var(--l6)}.l7{fill:var(--l7);background:var(--l7)}
.l8{fill:var(--l8);background:var(--l8)}.lx{fill:var(--lx);background:var(--lx)}
.ca{fill:var(--added);background:var(--added)}.cm{fill:var(--modified);background:var(--modified)}
.cr{fill:var(--removed);background:var(--removed)}
.axis{stroke:var(--fg);stroke-width:1}.grid{stroke:var(--rule);stroke-width:1}
rect.hit{fill:transparent}rect.hit:hover{fill:var(--fg);fill-opacity:.08}
rect.d{fill-opacity:.3;stroke:var(--bg);stroke-width:2}
rect.f{stroke:var(--bg);stroke-width:.5}
text.h{font-size:10px;paint-order:stroke;stroke:var(--bg);stroke-width:3px;stroke-linejoin:round}
text.w,text.k{font-size:10px}text.w{fill:#fff}text.k{fill:#111}
ul.paths{columns:2 26rem;column-gap:2rem;padding-left:1.2rem;font-size:.92em}
.tip{position:fixed;z-index:1;max-width:36rem;padding:.25rem .5rem;border-radius:4px;pointer-events:none;
background:var(--fg);color:var(--bg);font-size:.85em;overflow-wrap:anywhere}
@media print{:root{--bg:#fff;--fg:#000;--muted:#444;--rule:#bbb;--panel:#f2f2f2;--code:#0072b2;--blank:#a3a3a3;
--l1:#332288;--l5:#882255;--lx:#bbbbbb}
body{max-width:none;padding:0;font-size:10pt}nav,.tip{display:none}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
h2,h3{break-after:avoid}figure,tr{break-inside:avoid}}
)CSS";

// Sorting for tables of class "sortable" (a header with data-key sorts by that
// data- attribute of the rows, as a number; others by the cell's text), and quick
// tooltips for the SVG shapes, from their <title> (emptied while shown, so that the
// browser's own tooltip does not cover it).
constexpr char kScript[] = R"JS(
"use strict";
for (const table of document.querySelectorAll("table.sortable")) {
  const heads = table.tHead.rows[0].cells;
  for (let column = 0; column < heads.length; ++column) {
    const head = heads[column];
    const key = head.dataset.key;
    head.tabIndex = 0;
    const sort = () => {
      const state = head.getAttribute("aria-sort");
      const descending = key ? state !== "descending" : state === "ascending";
      for (const other of heads) other.removeAttribute("aria-sort");
      head.setAttribute("aria-sort", descending ? "descending" : "ascending");
      const value = row => key ? Number(row.dataset[key]) : row.cells[column].textContent;
      const body = table.tBodies[0];
      const rows = Array.from(body.rows).sort((a, b) => {
        const order = key ? value(a) - value(b) : value(a).localeCompare(value(b));
        return descending ? -order : order;
      });
      body.append(...rows);
    };
    head.addEventListener("click", sort);
    head.addEventListener("keydown", event => {
      if (event.key === "Enter" || event.key === " ") {
        event.preventDefault();
        sort();
      }
    });
  }
}
const tip = document.createElement("div");
tip.className = "tip";
tip.hidden = true;
document.body.append(tip);
let shown = null;
const hide = () => {
  if (shown) shown.title.textContent = shown.text;
  shown = null;
  tip.hidden = true;
};
document.addEventListener("pointerover", event => {
  hide();
  const target = event.target;
  const title = target instanceof SVGElement && target.tagName !== "svg" ? target.querySelector(":scope > title") : null;
  if (!title) return;
  shown = {title, text: title.textContent};
  tip.textContent = shown.text;
  title.textContent = "";
  tip.hidden = false;
});
document.addEventListener("pointerout", hide);
document.addEventListener("pointermove", event => {
  if (tip.hidden) return;
  tip.style.left = Math.max(4, Math.min(event.clientX + 14, innerWidth - tip.offsetWidth - 4)) + "px";
  const below = event.clientY + 18;
  tip.style.top = (below + tip.offsetHeight > innerHeight ? event.clientY - tip.offsetHeight - 8 : below) + "px";
});
)JS";

constexpr int32_t kLanguageHues = 9;
// The hues (--l1 indigo, --l3 green, --l5 wine) that take white text.
constexpr bool kIsDarkHue[kLanguageHues] = {false, true, false, true, false, true, false, false, false};
constexpr int32_t kBiggestFiles = 50;
constexpr int32_t kAnomaliesShownOpen = 12;  // a longer list starts folded

// Bars: a label column, the bars, room for the number behind the longest.
constexpr double kBarsWidth = 960;
constexpr double kBarLabelWidth = 190;
constexpr double kBarNumberRoom = 96;
constexpr double kBarRowHeight = 22;
constexpr double kBarHeight = 14;
constexpr int32_t kBarLabelCharacters = 26;

// Treemap: the drawing, the items of a level before the rest is one "smaller items"
// rectangle, the biggest files drawn in a second-level directory, and the least a
// rectangle needs to be drawn, labelled or filled.
constexpr double kTreemapWidth = 1200;
constexpr double kTreemapHeight = 680;
constexpr int32_t kTopItems = 60;
constexpr int32_t kSecondItems = 40;
constexpr int32_t kInnerFiles = 120;
constexpr double kLeastFileArea = 40;
constexpr double kLeastSide = 3;
constexpr double kBandHeight = 15;
constexpr double kSmallBandHeight = 12;

const char kKindClass[] = {'c', 'm', 'p', 'b'};
constexpr const char* kGreyClass = "lx";
const char* const kKindNames[] = {"code", "comment", "punctuation", "blank"};

void AppendPlain(SharedString& out, int64_t value) {
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%" PRId64, value);
  out.Append(text, length);
}

// A count as the page shows it: grouped by narrow no-break spaces unless -np; with a
// sign for a difference.
void AppendCount(SharedString& out, int64_t value, bool isPretty, bool isSigned = false) {
  // 20 digits, 6 groups of 3 bytes and a sign.
  char text[48];
  char* cursor = text + sizeof text;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  int32_t digitCount = 0;
  do {
    if (isPretty && digitCount > 0 && digitCount % 3 == 0) {
      cursor -= 3;
      std::memcpy(cursor, "\xE2\x80\xAF", 3);
    }
    *--cursor = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    ++digitCount;
  } while (magnitude != 0);
  if (value < 0) {
    *--cursor = '-';
  } else if (isSigned && value > 0) {
    *--cursor = '+';
  }
  out.Append(cursor, static_cast<int32_t>(text + sizeof text - cursor));
}

// An SVG coordinate: one decimal, without a trailing ".0". Hot: a page holds
// thousands (printf's floating point costs ten times as much).
void AppendCoordinate(SharedString& out, double value) {
  const int64_t tenths = std::llround(value * 10);
  if (tenths < 0) out.Append("-", 1);
  const uint64_t magnitude = tenths < 0 ? 0 - static_cast<uint64_t>(tenths) : static_cast<uint64_t>(tenths);
  char text[24];
  char* cursor = text + sizeof text;
  if (magnitude % 10 != 0) {
    *--cursor = static_cast<char>('0' + magnitude % 10);
    *--cursor = '.';
  }
  uint64_t whole = magnitude / 10;
  do {
    *--cursor = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  out.Append(cursor, static_cast<int32_t>(text + sizeof text - cursor));
}

// One decimal; a share too small to show one is "<0.1%".
void AppendPercent(SharedString& out, int64_t part, int64_t whole) {
  if (whole <= 0) return;
  const double percent = 100.0 * static_cast<double>(part) / static_cast<double>(whole);
  if (part > 0 && percent < 0.05) {
    out.Append("&lt;0.1%");
    return;
  }
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%.1f%%", percent);
  out.Append(text, length);
}

// At most maxCharacters characters of text (a byte that is not valid UTF-8 counts as
// one), "…" marking a cut; escaped.
void AppendShortened(SharedString& out, const char* begin, const char* end, int32_t maxCharacters) {
  const auto* cursor = reinterpret_cast<const uint8_t*>(begin);
  const auto* last = reinterpret_cast<const uint8_t*>(end);
  int32_t characters = 0;
  while (cursor < last && characters < maxCharacters) {
    const int32_t length = *cursor < 0x80 ? 1 : Utf8SequenceLength(cursor, last);
    cursor += length > 0 ? length : 1;
    ++characters;
  }
  if (cursor == last) {
    AppendHtmlText(out, begin, end);
    return;
  }
  // Room for the mark: one character fewer.
  const auto* cut = reinterpret_cast<const uint8_t*>(begin);
  for (int32_t i = 0; i + 1 < maxCharacters && cut < last; ++i) {
    const int32_t length = *cut < 0x80 ? 1 : Utf8SequenceLength(cut, last);
    cut += length > 0 ? length : 1;
  }
  AppendHtmlText(out, begin, reinterpret_cast<const char*>(cut));
  out.Append("\xE2\x80\xA6", 3);
}

void AppendCodeText(SharedString& out, const SharedString& text) {
  out.Append("<code>");
  AppendHtmlText(out, text);
  out.Append("</code>");
}

// One cell of a number: <td class="n">.
void AppendNumberCell(SharedString& out, int64_t value, bool isPretty, bool isSigned = false) {
  out.Append("<td class=\"n\">");
  AppendCount(out, value, isPretty, isSigned);
  out.Append("</td>");
}

// A rectangle's geometry attributes.
void AppendBox(SharedString& out, const TreemapRect& box) {
  out.Append(" x=\"");
  AppendCoordinate(out, box.x);
  out.Append("\" y=\"");
  AppendCoordinate(out, box.y);
  out.Append("\" width=\"");
  AppendCoordinate(out, box.width);
  out.Append("\" height=\"");
  AppendCoordinate(out, box.height);
  out.Append("\"");
}

// A treemap item: a directory, a file row, or the smaller items of a level together.
struct TreemapItem {
  int32_t directory = -1;
  int32_t file = -1;
  int64_t code = 0;
  int32_t restCount = 0;  // the smaller items: how many
};

// An item as drawn: level 1 and 2 are the directories and files of the first two
// levels, level 3 the biggest files inside a second-level directory (its inner
// shapes).
struct TreemapShape {
  TreemapItem item;
  TreemapRect box;
  int32_t level = 1;
  int32_t firstInner = 0;
  int32_t innerCount = 0;
};

// Lays sizes (> 0, in any order) out in box: boxes[i] for sizes[i].
void LayOutSizes(const Array<double>& sizes, const TreemapRect& box, Array<TreemapRect>& boxes) {
  Array<int32_t> order;
  for (int32_t i = 0; i < sizes.Count(); ++i) order.PushBack(i);
  StableSort(order.Data(), order.Count(), [&sizes](int32_t a, int32_t b) { return sizes[a] > sizes[b]; });
  Array<double> sorted;
  for (const int32_t i : order) sorted.PushBack(sizes[i]);
  Array<TreemapRect> sortedBoxes;
  sortedBoxes.Resize(sorted.Count());
  SquarifyLayout(sorted.Data(), sorted.Count(), box, sortedBoxes.Data());
  boxes.Resize(sizes.Count());
  for (int32_t k = 0; k < order.Count(); ++k) boxes[order[k]] = sortedBoxes[k];
}

bool IsDrawable(const TreemapRect& box) {
  return box.width >= kLeastSide && box.height >= kLeastSide;
}

TreemapRect Inset(const TreemapRect& box, double left, double top, double right, double bottom) {
  return TreemapRect{box.x + left, box.y + top, box.width - left - right, box.height - top - bottom};
}

// Days since 1970-01-01 of a "YYYY-MM-DD" date (0 when it is not one).
int64_t DayNumber(const SharedString& date) {
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  if (std::sscanf(date.CStr(), "%d-%u-%u", &year, &month, &day) != 3 || month < 1 || month > 12) return 0;
  // Days from the civil calendar, counted from a March-based year.
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The step of a value axis: 1, 2 or 5 times a power of ten, giving at most about
// six ticks up to top.
int64_t AxisStep(int64_t top) {
  int64_t step = 1;
  while (true) {
    for (const int64_t factor : {1, 2, 5}) {
      if (top / (step * factor) <= 5) return step * factor;
    }
    if (step > INT64_MAX / 100) return step * 10;
    step *= 10;
  }
}

class PageWriter {
 public:
  explicit PageWriter(const ReportModel& model);
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  SharedString Render();

 private:
  // A section of the page: its id, its heading (in the nav), whether the model has it
  // and its writer. The comparison of two revisions and the history over time each
  // become one more entry, after the -diff section, reading their part of the model.
  struct Section {
    const char* id;
    const char* heading;
    bool (*isShown)(const ReportModel&);
    void (PageWriter::*write)();
  };
  static const Section kSections[];

  void WriteHead();
  void WriteHeader();
  void WriteLanguages();
  void WriteSavedComparison();
  void WriteTreemap();
  void WriteBiggestFiles();
  void WriteAnomalies();
  void WriteHistory();
  void WriteCompare();
  void WriteChangeBars();
  void WriteChangedFiles();

  void WriteLanguageBars();
  void WriteHistoryChart(const Array<HistoryLanguage>& languages);
  void WriteCountsHeader(const char* firstColumn, bool withFiles);
  void WriteCountAttributes(const ColumnTotals& counts, bool withFiles);
  void WriteCountCells(const ColumnTotals& counts, bool withFiles, bool isSigned);
  void CollectItems(int32_t directory, int32_t limit, Array<TreemapItem>& items) const;
  void LayOutItems(const Array<TreemapItem>& items, const TreemapRect& box, int32_t level);
  void LayOutInnerFiles(int32_t root);
  void WriteTreemapShape(const TreemapShape& shape);
  void WriteTreemapLabel(const TreemapShape& shape);
  void WriteItemTitle(const TreemapItem& item);
  void WriteLanguageLegend();
  void WriteAnomalyList(const char* heading, const AnomalyPathList& list, int64_t count);
  const char* LanguageClass(FileTypeId type) const;

  const ReportModel& model_;
  const bool isDiff_;
  SharedString out_;
  // Per type: its hue (0 to kLanguageHues - 1), or -1 for grey.
  int8_t hueOfType_[kTypeSlots];
  // The treemap as laid out: the first two levels, then the files inside
  // second-level directories (TreemapShape::firstInner indexes them).
  Array<TreemapShape> shapes_;
  Array<TreemapShape> innerShapes_;
  bool hasGreyShape_ = false;  // a shape of the grey of other languages was drawn
};

// A history has no file rows or anomalies: its page is the growth over time and the
// languages of its newest point. A compare's is what changed, the languages of NEW and
// the anomalies of both sides.
const PageWriter::Section PageWriter::kSections[] = {
    {"history", "Growth over time", [](const ReportModel& model) { return model.isHistory; },
     &PageWriter::WriteHistory},
    {"compare", "What changed", [](const ReportModel& model) { return model.isCompare; },
     &PageWriter::WriteCompare},
    {"languages", "Languages", [](const ReportModel&) { return true; }, &PageWriter::WriteLanguages},
    {"saved", "Compared with the saved run", [](const ReportModel& model) { return model.hasComparison; },
     &PageWriter::WriteSavedComparison},
    {"treemap", "Where the code lives",
     [](const ReportModel& model) { return !model.isHistory && !model.isCompare; },
     &PageWriter::WriteTreemap},
    {"biggest", "The biggest files",
     [](const ReportModel& model) { return !model.isHistory && !model.isCompare; },
     &PageWriter::WriteBiggestFiles},
    {"anomalies", "Anomalies", [](const ReportModel& model) { return !model.isHistory; },
     &PageWriter::WriteAnomalies},
};

PageWriter::PageWriter(const ReportModel& model) : model_(model), isDiff_(model.hasComparison) {
  std::memset(hueOfType_, -1, sizeof hueOfType_);
  if (model.isHistory) {
    // The languages drawn over time keep their hue at every point.
    int8_t hue = 0;
    for (const HistoryLanguage& language : HistoryLanguages(model)) {
      if (hue == kLanguageHues) break;
      hueOfType_[language.type] = hue++;
    }
    return;
  }
  // Hues go to the languages of the most code (the current code after -diff).
  Array<int32_t> order;
  for (int32_t i = 0; i < model.languages.Count(); ++i) order.PushBack(i);
  auto codeOf = [&model, this](int32_t row) {
    return isDiff_ ? model.comparison.current[row].code : model.languages[row].counts.code;
  };
  StableSort(order.Data(), order.Count(), [&codeOf](int32_t a, int32_t b) { return codeOf(a) > codeOf(b); });
  int8_t hue = 0;
  for (const int32_t row : order) {
    if (hue == kLanguageHues || codeOf(row) <= 0) break;
    hueOfType_[model.languages[row].type] = hue++;
  }
}

const char* PageWriter::LanguageClass(FileTypeId type) const {
  static const char* const kClasses[] = {"l0", "l1", "l2", "l3", "l4", "l5", "l6", "l7", "l8"};
  static_assert(sizeof kClasses / sizeof kClasses[0] == kLanguageHues);
  const int8_t hue = hueOfType_[type];
  return hue < 0 ? kGreyClass : kClasses[hue];
}

SharedString PageWriter::Render() {
  WriteHead();
  out_.Append("<body>\n");
  WriteHeader();
  out_.Append("<main>\n");
  for (const Section& section : kSections) {
    if (!section.isShown(model_)) continue;
    out_.Append("<section id=\"");
    out_.Append(section.id);
    out_.Append("\">\n<h2>");
    out_.Append(section.heading);
    out_.Append("</h2>\n");
    (this->*section.write)();
    out_.Append("</section>\n");
  }
  out_.Append("</main>\n<footer>\n<p class=\"muted\">Written by ");
  out_.Append(kVersionBanner);
  out_.Append(
      ". The numbers are those of <code>-json</code> for the same run. Sorting and tooltips need scripts; "
      "everything else reads without them.</p>\n</footer>\n<script>");
  out_.Append(kScript);
  out_.Append("</script>\n</body>\n</html>\n");
  return std::move(out_);
}

void PageWriter::WriteHead() {
  out_.Append(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"color-scheme\" content=\"light dark\">\n<meta name=\"generator\" content=\"");
  out_.Append(kVersionBanner);
  out_.Append("\">\n<title>Lines of code");
  const char* separator = ": ";
  if (!model_.standardInputName.IsEmpty()) {
    out_.Append(separator);
    AppendHtmlText(out_, model_.standardInputName);
    separator = ", ";
  }
  for (const SharedString& input : model_.inputs) {
    out_.Append(separator);
    AppendHtmlText(out_, input);
    separator = ", ";
  }
  out_.Append("</title>\n<style>");
  out_.Append(kStyle);
  out_.Append("</style>\n</head>\n");
}

void PageWriter::WriteHeader() {
  const bool isPretty = model_.isPretty;
  out_.Append("<header>\n<h1>Lines of code</h1>\n<dl class=\"facts\">\n<dt>Counted</dt><dd>");
  const char* separator = "";
  if (!model_.standardInputName.IsEmpty()) {
    out_.Append("standard input as ");
    AppendCodeText(out_, model_.standardInputName);
    separator = " ";
  }
  for (const SharedString& input : model_.inputs) {
    out_.Append(separator);
    AppendCodeText(out_, input);
    separator = " ";
  }
  out_.Append("</dd>\n<dt>Options</dt><dd>");
  if (model_.options.IsEmpty()) out_.Append("none");
  separator = "";
  for (const SharedString& option : model_.options) {
    out_.Append(separator);
    AppendCodeText(out_, option);
    separator = " ";
  }
  char date[32];
  char isoDate[32];
  const time_t seconds = static_cast<time_t>(model_.countedAt);
  tm utc;
  if (gmtime_r(&seconds, &utc) == nullptr ||
      std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", &utc) == 0 ||
      std::strftime(isoDate, sizeof isoDate, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
    std::strcpy(date, "unknown");
    isoDate[0] = 0;
  }
  out_.Append("</dd>\n<dt>Date</dt><dd><time datetime=\"");
  out_.Append(isoDate);
  out_.Append("\">");
  out_.Append(date);
  out_.Append("</time></dd>\n<dt>Lines</dt><dd>");
  out_.Append(model_.isConservative
                  ? "blank, comment, punctuation (only characters such as <code>}</code> and <code>;</code>) "
                    "and code"
                  : "blank, comment and code (lines of punctuation alone count as code)");
  out_.Append("</dd>\n");
  if (model_.isCompare) {
    out_.Append("<dt>Compared</dt><dd>");
    AppendCodeText(out_, model_.compare.oldName);
    out_.Append(" \xE2\x86\x92 ");
    AppendCodeText(out_, model_.compare.newName);
    out_.Append(": the totals and languages are those of ");
    AppendCodeText(out_, model_.compare.newName);
    out_.Append("</dd>\n");
  }
  if (isDiff_) {
    out_.Append("<dt>Compared with</dt><dd>");
    AppendCodeText(out_, model_.diffFile);
    out_.Append(", saved earlier: the tables show current minus saved</dd>\n");
  }
  out_.Append("</dl>\n<ul class=\"totals\">\n");
  // The totals of the tree as it is, with the change after -diff.
  const ColumnTotals& now = isDiff_ ? model_.comparison.currentTotal : model_.total;
  const struct {
    int64_t ColumnTotals::*field;
    const char* label;
  } kTotals[] = {{&ColumnTotals::files, "files"},
                 {&ColumnTotals::code, "code lines"},
                 {&ColumnTotals::comment, "comment lines"},
                 {&ColumnTotals::punctuation, "punctuation lines"},
                 {&ColumnTotals::blank, "blank lines"}};
  for (const auto& total : kTotals) {
    if (total.field == &ColumnTotals::punctuation && !model_.isConservative) continue;
    out_.Append("<li><b>");
    AppendCount(out_, now.*total.field, isPretty);
    out_.Append("</b>");
    out_.Append(total.label);
    if (isDiff_) {
      out_.Append(" (");
      AppendCount(out_, model_.total.*total.field, isPretty, true);
      out_.Append(")");
    }
    out_.Append("</li>\n");
  }
  out_.Append("</ul>\n<nav aria-label=\"Sections\"><ul>\n");
  for (const Section& section : kSections) {
    if (!section.isShown(model_)) continue;
    out_.Append("<li><a href=\"#");
    out_.Append(section.id);
    out_.Append("\">");
    out_.Append(section.heading);
    out_.Append("</a></li>\n");
  }
  out_.Append("</ul></nav>\n</header>\n");
}

void PageWriter::WriteCountsHeader(const char* firstColumn, bool withFiles) {
  out_.Append("<thead><tr><th scope=\"col\">");
  out_.Append(firstColumn);
  out_.Append("</th>");
  if (withFiles) out_.Append("<th scope=\"col\" class=\"n\" data-key=\"files\">Files</th>");
  out_.Append(
      "<th scope=\"col\" class=\"n\" data-key=\"blank\">Blank</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"comment\">Comment</th>");
  if (model_.isConservative)
    out_.Append("<th scope=\"col\" class=\"n\" data-key=\"punctuation\">Punctuation</th>");
  out_.Append("<th scope=\"col\" class=\"n\" data-key=\"code\">Code</th>");
}

void PageWriter::WriteCountAttributes(const ColumnTotals& counts, bool withFiles) {
  const struct {
    const char* name;
    int64_t value;
    bool isShown;
  } attributes[] = {{" data-files=\"", counts.files, withFiles},
                    {" data-blank=\"", counts.blank, true},
                    {" data-comment=\"", counts.comment, true},
                    {" data-punctuation=\"", counts.punctuation, model_.isConservative},
                    {" data-code=\"", counts.code, true}};
  for (const auto& attribute : attributes) {
    if (!attribute.isShown) continue;
    out_.Append(attribute.name);
    AppendPlain(out_, attribute.value);
    out_.Append("\"");
  }
}

void PageWriter::WriteCountCells(const ColumnTotals& counts, bool withFiles, bool isSigned) {
  const bool isPretty = model_.isPretty;
  if (withFiles) AppendNumberCell(out_, counts.files, isPretty, isSigned);
  AppendNumberCell(out_, counts.blank, isPretty, isSigned);
  AppendNumberCell(out_, counts.comment, isPretty, isSigned);
  if (model_.isConservative) AppendNumberCell(out_, counts.punctuation, isPretty, isSigned);
  AppendNumberCell(out_, counts.code, isPretty, isSigned);
}

void PageWriter::WriteLanguages() {
  if (model_.languages.IsEmpty()) {
    out_.Append("<p>No file of a known language had lines.</p>\n");
    return;
  }
  if (model_.isHistory) {
    const HistoryPoint& newest = model_.history.Back();
    out_.Append("<p>At the newest point, commit <code>");
    AppendHtmlText(out_, newest.commit);
    out_.Append("</code> of ");
    AppendHtmlText(out_, newest.date);
    out_.Append(".</p>\n");
  }
  if (isDiff_) {
    out_.Append("<p>Lines gained (right of the axis) and lost (left of it) per language since ");
    AppendCodeText(out_, model_.diffFile);
    out_.Append(".</p>\n");
  }
  WriteLanguageBars();
  out_.Append("<table class=\"sortable\" id=\"language-table\">\n");
  WriteCountsHeader("Language", true);
  if (!isDiff_) out_.Append("<th scope=\"col\" class=\"n\" data-key=\"code\">Share of code</th>");
  out_.Append("</tr></thead>\n<tbody>\n");
  auto writeRow = [this](const char* name, const ColumnTotals& counts, bool isTotal) {
    out_.Append("<tr data-language=\"");
    AppendHtmlText(out_, name);
    out_.Append("\"");
    WriteCountAttributes(counts, true);
    out_.Append(isTotal ? "><th scope=\"row\">" : "><td>");
    AppendHtmlText(out_, name);
    out_.Append(isTotal ? "</th>" : "</td>");
    WriteCountCells(counts, true, isDiff_);
    if (!isDiff_) {
      out_.Append("<td class=\"n\">");
      AppendPercent(out_, counts.code, model_.total.code);
      out_.Append("</td>");
    }
    out_.Append("</tr>\n");
  };
  for (const LanguageRow& row : model_.languages) writeRow(row.name, row.counts, false);
  out_.Append("</tbody>\n<tfoot>\n");
  writeRow("Total", model_.total, true);
  out_.Append("</tfoot>\n</table>\n");
}

// Stacked bars, one per language: the positive parts to the right of the axis, the
// negative ones (after -diff) to its left, so both share one scale.
void PageWriter::WriteLanguageBars() {
  const int32_t kinds = model_.isConservative ? 4 : 3;
  auto partsOf = [&](const ColumnTotals& counts, int64_t* parts) {
    parts[0] = counts.code;
    parts[1] = counts.comment;
    if (model_.isConservative) {
      parts[2] = counts.punctuation;
      parts[3] = counts.blank;
    } else {
      parts[2] = counts.blank;
    }
  };
  auto kindOf = [&](int32_t part) { return model_.isConservative || part < 2 ? part : part + 1; };
  double right = 0;
  double left = 0;
  for (const LanguageRow& row : model_.languages) {
    int64_t parts[4];
    partsOf(row.counts, parts);
    double positive = 0;
    double negative = 0;
    for (int32_t k = 0; k < kinds; ++k) {
      (parts[k] > 0 ? positive : negative) += static_cast<double>(parts[k] > 0 ? parts[k] : -parts[k]);
    }
    if (positive > right) right = positive;
    if (negative > left) left = negative;
  }
  const double barRoom = kBarsWidth - kBarLabelWidth - kBarNumberRoom;
  const double scale = right + left > 0 ? barRoom / (right + left) : 0;
  const double axis = kBarLabelWidth + left * scale;
  const double height = static_cast<double>(model_.languages.Count()) * kBarRowHeight + 8;

  out_.Append("<figure>\n<svg viewBox=\"0 0 ");
  AppendCoordinate(out_, kBarsWidth);
  out_.Append(" ");
  AppendCoordinate(out_, height);
  out_.Append(
      "\" role=\"img\"><title>Lines per language</title><desc>One horizontal bar per language, split into ");
  out_.Append(model_.isConservative ? "code, comment, punctuation and blank" : "code, comment and blank");
  out_.Append(isDiff_ ? " lines gained or lost; the numbers are the change in code lines."
                      : " lines, longest first; the numbers are code lines.");
  out_.Append(" The table below holds every number.</desc>\n");
  double y = 4;
  for (const LanguageRow& row : model_.languages) {
    int64_t parts[4];
    partsOf(row.counts, parts);
    out_.Append("<g><text x=\"");
    AppendCoordinate(out_, kBarLabelWidth - 8);
    out_.Append("\" y=\"");
    AppendCoordinate(out_, y + kBarHeight - 3);
    out_.Append("\" text-anchor=\"end\">");
    AppendShortened(out_, row.name, row.name + std::strlen(row.name), kBarLabelCharacters);
    out_.Append("</text>");
    double positiveEnd = axis;
    double negativeEnd = axis;
    for (int32_t k = 0; k < kinds; ++k) {
      if (parts[k] == 0) continue;
      const double width = static_cast<double>(parts[k] > 0 ? parts[k] : -parts[k]) * scale;
      double x;
      if (parts[k] > 0) {
        x = positiveEnd;
        positiveEnd += width;
      } else {
        negativeEnd -= width;
        x = negativeEnd;
      }
      out_.Append("<rect class=\"");
      out_.Append(&kKindClass[kindOf(k)], 1);
      out_.Append("\"");
      AppendBox(out_, TreemapRect{x, y, width, kBarHeight});
      out_.Append("><title>");
      AppendHtmlText(out_, row.name);
      out_.Append(": ");
      AppendCount(out_, parts[k], model_.isPretty, isDiff_);
      out_.Append(" ");
      out_.Append(kKindNames[kindOf(k)]);
      out_.Append(" lines</title></rect>");
    }
    out_.Append("<text x=\"");
    AppendCoordinate(out_, positiveEnd + 6);
    out_.Append("\" y=\"");
    AppendCoordinate(out_, y + kBarHeight - 3);
    out_.Append("\">");
    AppendCount(out_, row.counts.code, model_.isPretty, isDiff_);
    out_.Append("</text></g>\n");
    y += kBarRowHeight;
  }
  if (isDiff_) {
    out_.Append("<line class=\"axis\" x1=\"");
    AppendCoordinate(out_, axis);
    out_.Append("\" x2=\"");
    AppendCoordinate(out_, axis);
    out_.Append("\" y1=\"0\" y2=\"");
    AppendCoordinate(out_, height);
    out_.Append("\"/>\n");
  }
  out_.Append("</svg>\n<figcaption><ul class=\"legend\">");
  for (int32_t k = 0; k < kinds; ++k) {
    out_.Append("<li><span class=\"swatch ");
    out_.Append(&kKindClass[kindOf(k)], 1);
    out_.Append("\" aria-hidden=\"true\">\xC2\xA0</span>");
    out_.Append(kKindNames[kindOf(k)]);
    out_.Append("</li>");
  }
  out_.Append("</ul></figcaption>\n</figure>\n");
}

void PageWriter::WriteSavedComparison() {
  const SavedComparison& comparison = model_.comparison;
  const bool isPretty = model_.isPretty;
  out_.Append("<p>The totals saved in ");
  AppendCodeText(out_, model_.diffFile);
  out_.Append(", those of this run and the difference.</p>\n<table>\n");
  WriteCountsHeader("Totals", true);
  out_.Append("</tr></thead>\n<tbody>\n");
  const struct {
    const char* label;
    const ColumnTotals& counts;
    bool isSigned;
  } rows[] = {{"Saved", comparison.savedTotal, false},
              {"Current", comparison.currentTotal, false},
              {"Difference", model_.total, true}};
  for (const auto& row : rows) {
    out_.Append("<tr><th scope=\"row\">");
    out_.Append(row.label);
    out_.Append("</th>");
    WriteCountCells(row.counts, true, row.isSigned);
    out_.Append("</tr>\n");
  }
  out_.Append(
      "</tbody>\n</table>\n<h3>Per language</h3>\n<table class=\"sortable\">\n<thead><tr><th "
      "scope=\"col\">Language</th><th scope=\"col\" class=\"n\" data-key=\"savedFiles\">Saved files</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"currentFiles\">Current files</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"savedCode\">Saved code</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"currentCode\">Current code</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"code\">Change in code</th></tr></thead>\n<tbody>\n");
  for (int32_t i = 0; i < model_.languages.Count(); ++i) {
    const ColumnTotals& saved = comparison.saved[i];
    const ColumnTotals& current = comparison.current[i];
    const int64_t values[] = {saved.files, current.files, saved.code, current.code};
    const char* const names[] = {" data-saved-files=\"", " data-current-files=\"", " data-saved-code=\"",
                                 " data-current-code=\""};
    out_.Append("<tr");
    for (int32_t k = 0; k < 4; ++k) {
      out_.Append(names[k]);
      AppendPlain(out_, values[k]);
      out_.Append("\"");
    }
    out_.Append(" data-code=\"");
    AppendPlain(out_, model_.languages[i].counts.code);
    out_.Append("\"><td>");
    AppendHtmlText(out_, model_.languages[i].name);
    out_.Append("</td>");
    for (const int64_t value : values) AppendNumberCell(out_, value, isPretty);
    AppendNumberCell(out_, model_.languages[i].counts.code, isPretty, true);
    out_.Append("</tr>\n");
  }
  out_.Append("</tbody>\n<tfoot>\n<tr><th scope=\"row\">Total</th>");
  for (const int64_t value : {comparison.savedTotal.files, comparison.currentTotal.files,
                              comparison.savedTotal.code, comparison.currentTotal.code}) {
    AppendNumberCell(out_, value, isPretty);
  }
  AppendNumberCell(out_, model_.total.code, isPretty, true);
  out_.Append("</tr>\n</tfoot>\n</table>\n");
}

// The directories and files right inside a directory, most code first (directories
// before files of equal code), without those of no code; past limit items the rest
// become one item.
void PageWriter::CollectItems(int32_t directory, int32_t limit, Array<TreemapItem>& items) const {
  items.Clear();
  const DirectoryRow& row = model_.directories[directory];
  int32_t d = 0;
  int32_t f = 0;
  TreemapItem rest;
  while (true) {
    const int64_t directoryCode =
        d < row.directories.Count() ? model_.directories[row.directories[d]].code : 0;
    const int64_t fileCode = f < row.fileRows.Count() ? model_.files[row.fileRows[f]].counts.code : 0;
    if (directoryCode <= 0 && fileCode <= 0) break;
    TreemapItem item;
    if (directoryCode >= fileCode) {
      item.directory = row.directories[d++];
      item.code = directoryCode;
    } else {
      item.file = row.fileRows[f++];
      item.code = fileCode;
    }
    if (items.Count() < limit) {
      items.PushBack(item);
    } else {
      rest.code = SaturatingAdd(rest.code, item.code);
      ++rest.restCount;
    }
  }
  if (rest.restCount > 0) items.PushBack(rest);
}

void PageWriter::LayOutItems(const Array<TreemapItem>& items, const TreemapRect& box, int32_t level) {
  Array<double> sizes;
  for (const TreemapItem& item : items) sizes.PushBack(static_cast<double>(item.code));
  Array<TreemapRect> boxes;
  LayOutSizes(sizes, box, boxes);
  for (int32_t i = 0; i < items.Count(); ++i) {
    if (!IsDrawable(boxes[i])) continue;
    TreemapShape shape;
    shape.item = items[i];
    shape.box = boxes[i];
    shape.level = level;
    shapes_.PushBack(shape);
  }
}

// The biggest files below each second-level directory, found in one pass over the
// file rows (most code first), laid out in the directory's rectangle with the rest
// of its code, which stays the directory's own colour.
void PageWriter::LayOutInnerFiles(int32_t root) {
  Array<int32_t> shapeOfDirectory;
  shapeOfDirectory.Resize(model_.directories.Count());
  for (int32_t& shape : shapeOfDirectory) shape = -1;
  for (int32_t i = 0; i < shapes_.Count(); ++i) {
    if (shapes_[i].level == 2 && shapes_[i].item.directory >= 0)
      shapeOfDirectory[shapes_[i].item.directory] = i;
  }
  // A file is taken while its share of the directory's rectangle would be visible.
  Array<Array<int32_t>> filesBelow;
  filesBelow.Resize(shapes_.Count());
  for (int32_t f = 0; f < model_.files.Count() && model_.files[f].counts.code > 0; ++f) {
    for (int32_t d = model_.files[f].directory; d > 0 && d != root; d = model_.directories[d].parent) {
      const int32_t shape = shapeOfDirectory[d];
      if (shape < 0) continue;
      const TreemapShape& owner = shapes_[shape];
      const double area = owner.box.width * owner.box.height *
                          static_cast<double>(model_.files[f].counts.code) /
                          static_cast<double>(owner.item.code);
      if (filesBelow[shape].Count() < kInnerFiles && area >= kLeastFileArea) filesBelow[shape].PushBack(f);
      break;
    }
  }
  for (int32_t i = 0; i < shapes_.Count(); ++i) {
    const Array<int32_t>& files = filesBelow[i];
    TreemapShape& shape = shapes_[i];
    shape.firstInner = innerShapes_.Count();
    if (files.IsEmpty()) continue;
    Array<double> sizes;
    int64_t rest = shape.item.code;
    for (const int32_t f : files) {
      sizes.PushBack(static_cast<double>(model_.files[f].counts.code));
      rest -= model_.files[f].counts.code;
    }
    if (rest > 0) sizes.PushBack(static_cast<double>(rest));
    // A band for the directory's name where there is room.
    const bool hasBand = shape.box.height >= 3 * kSmallBandHeight && shape.box.width >= 30;
    Array<TreemapRect> boxes;
    LayOutSizes(sizes, Inset(shape.box, 1, hasBand ? kSmallBandHeight : 1, 1, 1), boxes);
    for (int32_t k = 0; k < files.Count(); ++k) {
      if (!IsDrawable(boxes[k]) || boxes[k].width * boxes[k].height < kLeastFileArea) continue;
      TreemapShape inner;
      inner.item.file = files[k];
      inner.item.code = model_.files[files[k]].counts.code;
      inner.box = boxes[k];
      inner.level = 3;
      innerShapes_.PushBack(inner);
      ++shape.innerCount;
    }
  }
}

void PageWriter::WriteItemTitle(const TreemapItem& item) {
  const bool isPretty = model_.isPretty;
  out_.Append("<title>");
  if (item.file >= 0) {
    const FileRow& file = model_.files[item.file];
    AppendHtmlText(out_, file.location);
    out_.Append(" \xE2\x80\x94 ");
    AppendHtmlText(out_, file.language);
    out_.Append(", ");
    AppendCount(out_, file.counts.code, isPretty);
    out_.Append(" code lines (");
    AppendCount(out_, file.counts.comment, isPretty);
    out_.Append(" comment, ");
    AppendCount(out_, file.counts.blank, isPretty);
    out_.Append(" blank)");
  } else if (item.directory >= 0) {
    const DirectoryRow& directory = model_.directories[item.directory];
    AppendHtmlText(out_, directory.path);
    out_.Append("/ \xE2\x80\x94 ");
    AppendCount(out_, directory.code, isPretty);
    out_.Append(" code lines in ");
    AppendCount(out_, directory.files, isPretty);
    out_.Append(directory.files == 1 ? " file; " : " files; ");
    AppendPercent(out_, directory.mainCode, directory.code);
    out_.Append(" ");
    AppendHtmlText(out_, TypeNames[directory.mainType]);
  } else {
    AppendCount(out_, item.restCount, isPretty);
    out_.Append(" smaller directories and files \xE2\x80\x94 ");
    AppendCount(out_, item.code, isPretty);
    out_.Append(" code lines");
  }
  out_.Append("</title>");
}

void PageWriter::WriteTreemapShape(const TreemapShape& shape) {
  const TreemapItem& item = shape.item;
  const char* const colour = item.file >= 0 ? LanguageClass(model_.files[item.file].type)
                             : item.directory >= 0
                                 ? LanguageClass(model_.directories[item.directory].mainType)
                                 : kGreyClass;
  if (colour == kGreyClass) hasGreyShape_ = true;
  out_.Append(item.file >= 0 ? "<rect class=\"f " : "<rect class=\"d ");
  out_.Append(colour);
  out_.Append("\"");
  AppendBox(out_, shape.box);
  out_.Append(">");
  WriteItemTitle(item);
  out_.Append("</rect>\n");
}

// A name in its rectangle, where there is room: a directory's in the band above its
// contents (over its files, with a halo, when it has no band), a file's at its top in
// white on the dark hues and black on the others.
void PageWriter::WriteTreemapLabel(const TreemapShape& shape) {
  const TreemapItem& item = shape.item;
  if (item.directory < 0 && item.file < 0) return;
  const double fontSize = shape.level == 1 && item.directory >= 0 ? 12 : 10;
  if (shape.box.height < fontSize + 3) return;
  // About 0.6 em a character.
  const int32_t characters = static_cast<int32_t>((shape.box.width - 6) / (0.6 * fontSize));
  if (characters < 4) return;
  const SharedString& path =
      item.directory >= 0 ? model_.directories[item.directory].path : model_.files[item.file].location;
  const char* const end = path.CStr() + path.Length();
  const char* name = end;
  while (name != path.CStr() && name[-1] != '/') --name;
  const char* textClass = "h";
  if (fontSize == 12) {
    textClass = nullptr;
  } else if (item.file >= 0) {
    const int8_t hue = hueOfType_[model_.files[item.file].type];
    textClass = hue >= 0 && kIsDarkHue[hue] ? "w" : "k";
  }
  out_.Append("<text");
  if (textClass != nullptr) {
    out_.Append(" class=\"");
    out_.Append(textClass);
    out_.Append("\"");
  }
  out_.Append(" x=\"");
  AppendCoordinate(out_, shape.box.x + 3);
  out_.Append("\" y=\"");
  AppendCoordinate(out_, shape.box.y + fontSize);
  out_.Append("\">");
  AppendShortened(out_, name, end, characters);
  out_.Append("</text>\n");
}

void PageWriter::WriteTreemap() {
  // The root: the deepest directory holding every file row.
  int32_t root = 0;
  while (!model_.directories.IsEmpty()) {
    const DirectoryRow& row = model_.directories[root];
    if (row.directories.Count() != 1 || !row.fileRows.IsEmpty()) break;
    root = row.directories[0];
  }
  if (model_.directories.IsEmpty() || model_.directories[root].code <= 0) {
    out_.Append("<p>No file has code lines.</p>\n");
    return;
  }
  // The first level over the whole drawing; the second inside each first-level
  // directory, below a band for its name where there is room.
  Array<TreemapItem> items;
  CollectItems(root, kTopItems, items);
  LayOutItems(items, TreemapRect{0, 0, kTreemapWidth, kTreemapHeight}, 1);
  const int32_t topCount = shapes_.Count();
  for (int32_t i = 0; i < topCount; ++i) {
    const TreemapShape top = shapes_[i];
    if (top.item.directory < 0) continue;
    const bool hasBand = top.box.height >= 3 * kBandHeight && top.box.width >= 40;
    const TreemapRect inner = Inset(top.box, 2, hasBand ? kBandHeight : 2, 2, 2);
    if (!IsDrawable(inner)) continue;
    CollectItems(top.item.directory, kSecondItems, items);
    LayOutItems(items, inner, 2);
  }
  LayOutInnerFiles(root);

  out_.Append(
      "<p>Each rectangle is a directory or a file, its area its code lines: the directories two levels ");
  out_.Append("down from ");
  const DirectoryRow& rootRow = model_.directories[root];
  if (rootRow.path.IsEmpty()) {
    out_.Append("where the files are");
  } else {
    AppendCodeText(out_, rootRow.path);
  }
  out_.Append(
      ", with their biggest files inside. A file has the colour of its language, a directory a lighter "
      "one of the language of most of its code.</p>\n<figure>\n<svg viewBox=\"0 0 ");
  AppendCoordinate(out_, kTreemapWidth);
  out_.Append(" ");
  AppendCoordinate(out_, kTreemapHeight);
  out_.Append(
      "\" role=\"img\"><title>Code lines by directory and file</title><desc>A treemap: nested rectangles "
      "whose "
      "areas are code lines, for the directories two levels deep and the biggest files in them; each "
      "rectangle's title gives its path, language and lines. The biggest files are also listed in a table "
      "below.</desc>\n");
  // Each second-level directory with the files inside it, then the names over all.
  Array<const TreemapShape*> drawn;
  for (const TreemapShape& shape : shapes_) {
    if (drawn.Count() == kTreemapShapes) break;
    WriteTreemapShape(shape);
    drawn.PushBack(&shape);
    for (int32_t k = 0; k < shape.innerCount && drawn.Count() < kTreemapShapes; ++k) {
      WriteTreemapShape(innerShapes_[shape.firstInner + k]);
      drawn.PushBack(&innerShapes_[shape.firstInner + k]);
    }
  }
  for (const TreemapShape* shape : drawn) WriteTreemapLabel(*shape);
  out_.Append("</svg>\n<figcaption>");
  WriteLanguageLegend();
  out_.Append("</figcaption>\n</figure>\n");
}

void PageWriter::WriteLanguageLegend() {
  out_.Append("<ul class=\"legend\">");
  for (int8_t hue = 0; hue < kLanguageHues; ++hue) {
    for (FileTypeId type = 0; type < kTypeSlots; ++type) {
      if (hueOfType_[type] != hue) continue;
      out_.Append("<li><span class=\"swatch ");
      out_.Append(LanguageClass(type));
      out_.Append("\" aria-hidden=\"true\">\xC2\xA0</span>");
      AppendHtmlText(out_, TypeNames[type]);
      out_.Append("</li>");
    }
  }
  if (hasGreyShape_)
    out_.Append(
        "<li><span class=\"swatch lx\" aria-hidden=\"true\">\xC2\xA0</span>other languages, or small items "
        "together</li>");
  out_.Append("</ul>");
}

void PageWriter::WriteBiggestFiles() {
  int32_t count = 0;
  while (count < model_.files.Count() && count < kBiggestFiles && model_.files[count].counts.code > 0)
    ++count;
  if (count == 0) {
    out_.Append("<p>No file has code lines.</p>\n");
    return;
  }
  out_.Append("<p>The ");
  AppendPlain(out_, count);
  out_.Append(count == 1 ? " file" : " files");
  out_.Append(" with the most code lines.</p>\n<table class=\"sortable\">\n");
  WriteCountsHeader("File", false);
  out_.Append("<th scope=\"col\">Language</th></tr></thead>\n<tbody>\n");
  for (int32_t i = 0; i < count; ++i) {
    const FileRow& file = model_.files[i];
    out_.Append("<tr");
    WriteCountAttributes(file.counts, false);
    out_.Append("><td>");
    AppendCodeText(out_, file.location);
    out_.Append("</td>");
    WriteCountCells(file.counts, false, false);
    out_.Append("<td>");
    AppendHtmlText(out_, file.language);
    out_.Append("</td></tr>\n");
  }
  out_.Append("</tbody>\n</table>\n");
}

void PageWriter::WriteAnomalyList(const char* heading, const AnomalyPathList& list, int64_t count) {
  if (count <= 0) return;
  out_.Append(list.kept.Count() <= kAnomaliesShownOpen ? "<details open>" : "<details>");
  out_.Append("<summary>");
  out_.Append(heading);
  out_.Append(" (");
  AppendCount(out_, count, model_.isPretty);
  out_.Append(")</summary>\n<ul class=\"paths\">\n");
  for (const AnomalyPath& entry : list.kept) {
    out_.Append("<li>");
    if (!entry.path.IsEmpty()) AppendCodeText(out_, entry.path);
    if (!entry.detail.IsEmpty()) {
      out_.Append(entry.path.IsEmpty() ? "" : " ");
      if (&list == &model_.anomalyPaths.duplicates) {
        out_.Append("<span class=\"muted\">same as</span> ");
        AppendCodeText(out_, entry.detail);
      } else {
        out_.Append("<span class=\"muted\">");
        AppendHtmlText(out_, entry.detail);
        out_.Append("</span>");
      }
    }
    out_.Append("</li>\n");
  }
  const int64_t leftOut = count - list.kept.Count();
  if (leftOut > 0) {
    out_.Append("<li class=\"muted\">and ");
    AppendCount(out_, leftOut, model_.isPretty);
    out_.Append(" more (<code>-la</code> lists every one)</li>\n");
  }
  out_.Append("</ul>\n</details>\n");
}

void PageWriter::WriteAnomalies() {
  const AnomalyCounts& counts = model_.anomalies;
  const int64_t utf16 = SaturatingAdd(counts.utf16Le, counts.utf16Be);
  char tooBig[64];
  const int64_t megabytes = model_.maxFileSize / kMegabyte + (model_.maxFileSize % kMegabyte > 0 ? 1 : 0);
  std::snprintf(tooBig, sizeof tooBig, "Too big (over %" PRId64 " MB), not read", megabytes);
  const struct {
    const char* label;
    int64_t count;
    const AnomalyPathList& list;
  } kinds[] = {
      {"Could not be opened or read", counts.errors, model_.anomalyPaths.errors},
      {tooBig, counts.tooBig, model_.anomalyPaths.tooBig},
      {"Duplicates (only the first copy counted)", counts.duplicates, model_.anomalyPaths.duplicates},
      {"Empty", counts.empty, model_.anomalyPaths.empty},
      {"UTF-16 (converted and counted)", utf16, model_.anomalyPaths.utf16}};
  bool hasAny = false;
  for (const auto& kind : kinds) hasAny = hasAny || kind.count != 0;
  if (!hasAny) {
    out_.Append("<p>None: every file was read, and none was empty, a duplicate or UTF-16.</p>\n");
    return;
  }
  out_.Append("<table>\n<thead><tr><th scope=\"col\">Kind</th><th scope=\"col\" class=\"n\">Files</th></tr>");
  out_.Append("</thead>\n<tbody>\n");
  for (const auto& kind : kinds) {
    out_.Append("<tr><th scope=\"row\">");
    out_.Append(kind.label);
    out_.Append("</th>");
    AppendNumberCell(out_, kind.count, model_.isPretty);
    out_.Append("</tr>\n");
  }
  out_.Append("</tbody>\n</table>\n");
  if (!model_.hasAnomalyPaths) return;
  for (const auto& kind : kinds) WriteAnomalyList(kind.label, kind.list, kind.count);
}

void PageWriter::WriteHistory() {
  const Array<HistoryPoint>& points = model_.history;
  if (points.IsEmpty()) {
    out_.Append("<p>The history has no commit to count.</p>\n");
    return;
  }
  const Array<HistoryLanguage> languages = HistoryLanguages(model_);
  out_.Append("<p>Code lines at ");
  AppendPlain(out_, points.Count());
  out_.Append(points.Count() == 1 ? " point" : " points");
  out_.Append(" evenly spaced along the first-parent history, from ");
  AppendHtmlText(out_, points[0].date);
  out_.Append(" to ");
  AppendHtmlText(out_, points.Back().date);
  out_.Append(", stacked by language (those that reach 1% of the code at some point).</p>\n");
  WriteHistoryChart(languages);
  out_.Append("<h3>The points</h3>\n<table class=\"sortable\" id=\"history-table\">\n");
  WriteCountsHeader("Date", true);
  out_.Append("<th scope=\"col\">Commit</th>");
  out_.Append("</tr></thead>\n<tbody>\n");
  for (const HistoryPoint& point : points) {
    out_.Append("<tr data-commit=\"");
    AppendHtmlText(out_, point.commit);
    out_.Append("\"");
    WriteCountAttributes(point.total, true);
    out_.Append("><td>");
    AppendHtmlText(out_, point.date);
    out_.Append("</td>");
    WriteCountCells(point.total, true, false);
    out_.Append("<td><code title=\"");
    AppendHtmlText(out_, point.commit);
    out_.Append("\">");
    AppendHtmlText(out_, point.commit.CStr(),
                   point.commit.CStr() + (point.commit.Length() < 8 ? point.commit.Length() : 8));
    out_.Append("</code></td></tr>\n");
  }
  out_.Append("</tbody>\n</table>\n");
}

// Stacked areas of code lines over time, one per language drawn on its own and one
// for the rest; x is the commit date (a date earlier than the point before is drawn
// at that point's), y the code lines. Every point has a column whose title lists its
// numbers.
void PageWriter::WriteHistoryChart(const Array<HistoryLanguage>& languages) {
  constexpr double kWidth = 1200;
  constexpr double kHeight = 420;
  constexpr double kLeft = 80;
  constexpr double kRight = 16;
  constexpr double kTop = 10;
  constexpr double kBottom = 28;
  const Array<HistoryPoint>& points = model_.history;
  const int32_t count = points.Count();
  const bool isPretty = model_.isPretty;

  // The series: each language drawn on its own, then the other languages together.
  const int32_t drawn = languages.Count() < kLanguageHues ? languages.Count() : kLanguageHues;
  bool hasRest = false;
  Array<int64_t> rest;
  int64_t top = 1;
  for (const HistoryPoint& point : points) {
    int64_t listed = 0;
    for (int32_t k = 0; k < drawn; ++k) listed += CodeAt(point, languages[k].type);
    rest.PushBack(point.total.code - listed);
    hasRest = hasRest || point.total.code > listed;
    if (point.total.code > top) top = point.total.code;
  }
  const int64_t step = AxisStep(top);
  const int64_t axisTop = (top + step - 1) / step * step;

  Array<double> xs;
  int64_t firstDay = DayNumber(points[0].date);
  int64_t lastDay = firstDay;
  for (const HistoryPoint& point : points) {
    const int64_t day = DayNumber(point.date);
    if (day > lastDay) lastDay = day;
  }
  const double plotWidth = kWidth - kLeft - kRight;
  const double plotHeight = kHeight - kTop - kBottom;
  int64_t previousDay = firstDay;
  for (int32_t i = 0; i < count; ++i) {
    int64_t day = DayNumber(points[i].date);
    if (day < previousDay) day = previousDay;
    previousDay = day;
    const double share = lastDay > firstDay
                             ? static_cast<double>(day - firstDay) / static_cast<double>(lastDay - firstDay)
                         : count > 1 ? static_cast<double>(i) / (count - 1)
                                     : 0.5;
    xs.PushBack(kLeft + share * plotWidth);
  }
  auto yOf = [&](int64_t value) {
    return kTop + plotHeight - static_cast<double>(value) / static_cast<double>(axisTop) * plotHeight;
  };

  out_.Append("<figure>\n<svg viewBox=\"0 0 ");
  AppendCoordinate(out_, kWidth);
  out_.Append(" ");
  AppendCoordinate(out_, kHeight);
  out_.Append(
      "\" role=\"img\"><title>Code lines per language over time</title><desc>Stacked areas, one per "
      "language, of the code lines at each point of the history, oldest on the left; dates on the "
      "horizontal axis. The table below holds every point's numbers.</desc>\n");
  // The value axis: grid lines and their numbers.
  for (int64_t value = 0; value <= axisTop; value += step) {
    const double y = yOf(value);
    out_.Append("<line class=\"grid\" x1=\"");
    AppendCoordinate(out_, kLeft);
    out_.Append("\" x2=\"");
    AppendCoordinate(out_, kWidth - kRight);
    out_.Append("\" y1=\"");
    AppendCoordinate(out_, y);
    out_.Append("\" y2=\"");
    AppendCoordinate(out_, y);
    out_.Append("\"/><text x=\"");
    AppendCoordinate(out_, kLeft - 6);
    out_.Append("\" y=\"");
    AppendCoordinate(out_, y + 4);
    out_.Append("\" text-anchor=\"end\">");
    AppendCount(out_, value, isPretty);
    out_.Append("</text>\n");
    if (axisTop - value < step) break;
  }
  // The areas, bottom up: each between the running sum below it and that plus itself.
  Array<int64_t> below;
  below.Resize(count);
  for (int64_t& value : below) value = 0;
  const int32_t seriesCount = drawn + (hasRest ? 1 : 0);
  for (int32_t k = 0; k < seriesCount; ++k) {
    const bool isRest = k == drawn;
    Array<int64_t> above;
    for (int32_t i = 0; i < count; ++i) {
      const int64_t code = isRest ? rest[i] : CodeAt(points[i], languages[k].type);
      above.PushBack(below[i] + code);
    }
    out_.Append("<path class=\"");
    out_.Append(isRest ? kGreyClass : LanguageClass(languages[k].type));
    out_.Append("\" d=\"M");
    // One point is drawn as a band across the whole plot.
    const double firstX = count == 1 ? kLeft : xs[0];
    const double lastX = count == 1 ? kWidth - kRight : xs[count - 1];
    for (int32_t i = 0; i < count; ++i) {
      AppendCoordinate(out_, count == 1 ? firstX : xs[i]);
      out_.Append(" ");
      AppendCoordinate(out_, yOf(above[i]));
      out_.Append(" L");
    }
    if (count == 1) {
      AppendCoordinate(out_, lastX);
      out_.Append(" ");
      AppendCoordinate(out_, yOf(above[0]));
      out_.Append(" L");
      AppendCoordinate(out_, lastX);
      out_.Append(" ");
      AppendCoordinate(out_, yOf(below[0]));
      out_.Append(" L");
    }
    for (int32_t i = count - 1; i >= 0; --i) {
      AppendCoordinate(out_, count == 1 ? firstX : xs[i]);
      out_.Append(" ");
      AppendCoordinate(out_, yOf(below[i]));
      out_.Append(i == 0 ? "Z" : " L");
    }
    out_.Append("\"><title>");
    if (isRest) {
      out_.Append("other languages");
    } else {
      AppendHtmlText(out_, languages[k].name);
    }
    out_.Append(": ");
    AppendCount(out_, above[0] - below[0], isPretty);
    out_.Append(" code lines at ");
    AppendHtmlText(out_, points[0].date);
    out_.Append(", ");
    AppendCount(out_, above[count - 1] - below[count - 1], isPretty);
    out_.Append(" at ");
    AppendHtmlText(out_, points[count - 1].date);
    out_.Append("</title></path>\n");
    below = std::move(above);
  }
  out_.Append("<line class=\"axis\" x1=\"");
  AppendCoordinate(out_, kLeft);
  out_.Append("\" x2=\"");
  AppendCoordinate(out_, kWidth - kRight);
  out_.Append("\" y1=\"");
  AppendCoordinate(out_, kTop + plotHeight);
  out_.Append("\" y2=\"");
  AppendCoordinate(out_, kTop + plotHeight);
  out_.Append("\"/>\n");
  // Dates under the axis where they do not crowd each other; the first and last always.
  constexpr double kDateRoom = 96;
  double lastLabelEnd = -1e9;
  for (int32_t i = 0; i < count; ++i) {
    const bool isLast = i == count - 1;
    const double x = xs[i];
    if (!isLast && (x - kDateRoom / 2 < lastLabelEnd || x + kDateRoom > xs[count - 1] - kDateRoom / 2))
      continue;
    if (isLast && i > 0 && x - kDateRoom < lastLabelEnd) continue;
    const char* anchor = i == 0 ? "start" : isLast ? "end" : "middle";
    out_.Append("<text x=\"");
    AppendCoordinate(out_, x);
    out_.Append("\" y=\"");
    AppendCoordinate(out_, kHeight - 8);
    out_.Append("\" text-anchor=\"");
    out_.Append(anchor);
    out_.Append("\">");
    AppendHtmlText(out_, points[i].date);
    out_.Append("</text>\n");
    lastLabelEnd = i == 0 ? x + kDateRoom : isLast ? x : x + kDateRoom / 2;
  }
  // A column a point, between the midpoints to its neighbours, titled with its numbers.
  for (int32_t i = 0; i < count; ++i) {
    const double left = i == 0 ? kLeft : (xs[i - 1] + xs[i]) / 2;
    const double right = i == count - 1 ? kWidth - kRight : (xs[i] + xs[i + 1]) / 2;
    if (right - left <= 0) continue;
    out_.Append("<rect class=\"hit\"");
    AppendBox(out_, TreemapRect{left, kTop, right - left, plotHeight});
    out_.Append("><title>");
    AppendHtmlText(out_, points[i].date);
    out_.Append(" ");
    AppendHtmlText(out_, points[i].commit.CStr(),
                   points[i].commit.CStr() + (points[i].commit.Length() < 8 ? points[i].commit.Length() : 8));
    out_.Append(": ");
    AppendCount(out_, points[i].total.code, isPretty);
    out_.Append(" code lines");
    for (int32_t k = 0; k < drawn; ++k) {
      out_.Append(k == 0 ? " (" : ", ");
      AppendHtmlText(out_, languages[k].name);
      out_.Append(" ");
      AppendCount(out_, CodeAt(points[i], languages[k].type), isPretty);
    }
    if (drawn > 0) out_.Append(")");
    out_.Append("</title></rect>\n");
  }
  out_.Append("</svg>\n<figcaption><ul class=\"legend\">");
  for (int32_t k = 0; k < drawn; ++k) {
    out_.Append("<li><span class=\"swatch ");
    out_.Append(LanguageClass(languages[k].type));
    out_.Append("\" aria-hidden=\"true\">\xC2\xA0</span>");
    AppendHtmlText(out_, languages[k].name);
    out_.Append("</li>");
  }
  if (hasRest)
    out_.Append("<li><span class=\"swatch lx\" aria-hidden=\"true\">\xC2\xA0</span>other languages</li>");
  out_.Append("</ul></figcaption>\n</figure>\n");
}

void PageWriter::WriteCompare() {
  const CompareReport& report = model_.compare;
  const ChangeCounts& total = report.total;
  const bool isPretty = model_.isPretty;
  out_.Append("<p>From ");
  AppendCodeText(out_, report.oldName);
  out_.Append(" to ");
  AppendCodeText(out_, report.newName);
  out_.Append(": ");
  const struct {
    int64_t count;
    const char* what;
  } parts[] = {
      {total.modified.files, " files modified, "},    {total.added.files, " added, "},
      {total.removed.files, " removed and "},         {total.same.files, " the same (moved ones too); "},
      {LinesOf(total.modified), " lines modified, "}, {LinesOf(total.added), " added, "},
      {LinesOf(total.removed), " removed and "},      {LinesOf(total.same), " the same.</p>\n"}};
  for (const auto& part : parts) {
    AppendCount(out_, part.count, isPretty);
    out_.Append(part.what);
  }
  if (report.languages.IsEmpty()) {
    out_.Append("<p>No file of a known language had lines on either side.</p>\n");
    return;
  }
  WriteChangeBars();
  out_.Append("<table id=\"compare-table\">\n");
  WriteCountsHeader("Language</th><th scope=\"col\">Change", true);
  out_.Append("</tr></thead>\n");
  auto writeRows = [this](const char* name, const ChangeCounts& changes, bool isTotal) {
    bool isFirst = true;
    for (const ChangeRow& change : ChangeRows(changes)) {
      out_.Append("<tr data-language=\"");
      AppendHtmlText(out_, name);
      out_.Append("\" data-change=\"");
      out_.Append(change.name);
      out_.Append("\"");
      WriteCountAttributes(*change.counts, true);
      out_.Append(">");
      if (std::exchange(isFirst, false)) {
        out_.Append(isTotal ? "<th scope=\"rowgroup\" rowspan=\"4\">" : "<td rowspan=\"4\">");
        AppendHtmlText(out_, name);
        out_.Append(isTotal ? "</th>" : "</td>");
      }
      out_.Append("<td>");
      out_.Append(change.name);
      out_.Append("</td>");
      WriteCountCells(*change.counts, true, false);
      out_.Append("</tr>\n");
    }
  };
  for (const CompareLanguageRow& row : report.languages) {
    out_.Append("<tbody>\n");
    writeRows(row.name, row.changes, false);
    out_.Append("</tbody>\n");
  }
  out_.Append("<tfoot>\n");
  writeRows("Total", total, true);
  out_.Append("</tfoot>\n</table>\n");
  WriteChangedFiles();
}

// A bar per language: removed lines left of the axis, modified and added ones right.
void PageWriter::WriteChangeBars() {
  const Array<CompareLanguageRow>& languages = model_.compare.languages;
  double right = 0;
  double left = 0;
  for (const CompareLanguageRow& row : languages) {
    right = std::max(right, static_cast<double>(LinesOf(row.changes.modified) + LinesOf(row.changes.added)));
    left = std::max(left, static_cast<double>(LinesOf(row.changes.removed)));
  }
  const double barRoom = kBarsWidth - kBarLabelWidth - kBarNumberRoom * 2;
  const double scale = right + left > 0 ? barRoom / (right + left) : 0;
  const double axis = kBarLabelWidth + kBarNumberRoom + left * scale;
  const double height = static_cast<double>(languages.Count()) * kBarRowHeight + 8;
  out_.Append("<figure>\n<svg viewBox=\"0 0 ");
  AppendCoordinate(out_, kBarsWidth);
  out_.Append(" ");
  AppendCoordinate(out_, height);
  out_.Append(
      "\" role=\"img\"><title>Lines changed per language</title><desc>One horizontal bar per language: "
      "removed lines left of the axis, modified and added lines right of it, each number the lines on its "
      "side. The table below holds every number by kind of line.</desc>\n");
  double y = 4;
  for (const CompareLanguageRow& row : languages) {
    const int64_t removed = LinesOf(row.changes.removed);
    const int64_t modified = LinesOf(row.changes.modified);
    const int64_t added = LinesOf(row.changes.added);
    out_.Append("<g><text x=\"");
    AppendCoordinate(out_, kBarLabelWidth - 8);
    out_.Append("\" y=\"");
    AppendCoordinate(out_, y + kBarHeight - 3);
    out_.Append("\" text-anchor=\"end\">");
    AppendShortened(out_, row.name, row.name + std::strlen(row.name), kBarLabelCharacters);
    out_.Append("</text>");
    const struct {
      const char* className;
      int64_t lines;
      double x;
      const char* what;
    } bars[] = {{"cr", removed, axis - static_cast<double>(removed) * scale, " lines removed"},
                {"cm", modified, axis, " lines modified"},
                {"ca", added, axis + static_cast<double>(modified) * scale, " lines added"}};
    for (const auto& bar : bars) {
      if (bar.lines == 0) continue;
      out_.Append("<rect class=\"");
      out_.Append(bar.className);
      out_.Append("\"");
      AppendBox(out_, TreemapRect{bar.x, y, static_cast<double>(bar.lines) * scale, kBarHeight});
      out_.Append("><title>");
      AppendHtmlText(out_, row.name);
      out_.Append(": ");
      AppendCount(out_, bar.lines, model_.isPretty);
      out_.Append(bar.what);
      out_.Append("</title></rect>");
    }
    if (removed > 0) {
      out_.Append("<text x=\"");
      AppendCoordinate(out_, axis - static_cast<double>(removed) * scale - 6);
      out_.Append("\" y=\"");
      AppendCoordinate(out_, y + kBarHeight - 3);
      out_.Append("\" text-anchor=\"end\">\xE2\x88\x92");
      AppendCount(out_, removed, model_.isPretty);
      out_.Append("</text>");
    }
    out_.Append("<text x=\"");
    AppendCoordinate(out_, axis + static_cast<double>(modified + added) * scale + 6);
    out_.Append("\" y=\"");
    AppendCoordinate(out_, y + kBarHeight - 3);
    out_.Append("\">");
    AppendCount(out_, modified + added, model_.isPretty);
    out_.Append("</text></g>\n");
    y += kBarRowHeight;
  }
  out_.Append("<line class=\"axis\" x1=\"");
  AppendCoordinate(out_, axis);
  out_.Append("\" x2=\"");
  AppendCoordinate(out_, axis);
  out_.Append("\" y1=\"0\" y2=\"");
  AppendCoordinate(out_, height);
  out_.Append(
      "\"/>\n</svg>\n<figcaption><ul class=\"legend\">"
      "<li><span class=\"swatch cm\" aria-hidden=\"true\">\xC2\xA0</span>modified</li>"
      "<li><span class=\"swatch ca\" aria-hidden=\"true\">\xC2\xA0</span>added</li>"
      "<li><span class=\"swatch cr\" aria-hidden=\"true\">\xC2\xA0</span>removed</li>"
      "</ul></figcaption>\n</figure>\n");
}

// The files with the most lines modified, added and removed.
void PageWriter::WriteChangedFiles() {
  const Array<CompareFileRow>& files = model_.compare.files;
  auto changedOf = [](const CompareFileRow& row) {
    return LinesOf(row.changes.modified) + LinesOf(row.changes.added) + LinesOf(row.changes.removed);
  };
  Array<int32_t> order;
  for (int32_t i = 0; i < files.Count(); ++i) {
    if (changedOf(files[i]) > 0) order.PushBack(i);
  }
  StableSort(order.Data(), order.Count(),
             [&](int32_t a, int32_t b) { return changedOf(files[a]) > changedOf(files[b]); });
  const int32_t count = std::min(order.Count(), kBiggestFiles);
  out_.Append("<h3>The most-changed files</h3>\n");
  if (count == 0) {
    out_.Append("<p>No file has a changed line.</p>\n");
    return;
  }
  out_.Append("<p>The ");
  AppendPlain(out_, count);
  out_.Append(count == 1 ? " file" : " files");
  out_.Append(" with the most lines modified, added and removed");
  if (order.Count() > count) {
    out_.Append(", of ");
    AppendPlain(out_, order.Count());
    out_.Append(" changed");
  }
  out_.Append(
      ".</p>\n<table class=\"sortable\" id=\"changed-files\">\n<thead><tr><th scope=\"col\">File</th>"
      "<th scope=\"col\">Status</th><th scope=\"col\">Language</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"modified\">Modified</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"added\">Added</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"removed\">Removed</th></tr></thead>\n<tbody>\n");
  for (int32_t i = 0; i < count; ++i) {
    const CompareFileRow& row = files[order[i]];
    const int64_t values[3] = {LinesOf(row.changes.modified), LinesOf(row.changes.added),
                               LinesOf(row.changes.removed)};
    out_.Append("<tr data-modified=\"");
    AppendPlain(out_, values[0]);
    out_.Append("\" data-added=\"");
    AppendPlain(out_, values[1]);
    out_.Append("\" data-removed=\"");
    AppendPlain(out_, values[2]);
    out_.Append("\"><td>");
    if (row.status == FileChange::kMoved) {
      AppendCodeText(out_, row.oldPath);
      out_.Append(" \xE2\x86\x92 ");
    }
    AppendCodeText(out_, row.path);
    out_.Append("</td><td>");
    out_.Append(FileChangeName(row.status));
    out_.Append("</td><td>");
    AppendHtmlText(out_, row.language);
    out_.Append("</td>");
    for (const int64_t value : values) AppendNumberCell(out_, value, model_.isPretty);
    out_.Append("</tr>\n");
  }
  out_.Append("</tbody>\n</table>\n");
}

}  // namespace

const ReportFormat kHtmlReport = {"HTML", RenderHtml, &Settings::htmlFile, true, true};

SharedString RenderHtml(const ReportModel& model) {
  if (model.isCompare) {
    // The languages and totals shown are those of NEW: its same, modified and added lines.
    ReportModel newest = model;
    newest.languages.Clear();
    newest.total = ColumnTotals();
    for (const CompareLanguageRow& row : model.compare.languages) {
      ColumnTotals counts = row.changes.same;
      for (const ColumnTotals* more : {&row.changes.modified, &row.changes.added}) {
        counts.files += more->files;
        counts.blank += more->blank;
        counts.comment += more->comment;
        counts.punctuation += more->punctuation;
        counts.code += more->code;
      }
      if (LinesOf(counts) == 0) continue;
      newest.languages.PushBack(LanguageRow{row.type, row.name, counts});
      newest.total.files += counts.files;
      newest.total.blank += counts.blank;
      newest.total.comment += counts.comment;
      newest.total.punctuation += counts.punctuation;
      newest.total.code += counts.code;
    }
    PageWriter page(newest);
    return page.Render();
  }
  if (model.isHistory && !model.history.IsEmpty()) {
    // The languages and totals shown are those of the newest point.
    ReportModel newest = model;
    newest.languages = model.history.Back().languages;
    newest.total = model.history.Back().total;
    PageWriter page(newest);
    return page.Render();
  }
  PageWriter page(model);
  return page.Render();
}

}  // namespace qm
