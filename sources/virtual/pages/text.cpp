// The prose printed on every synthetic page: ordinary office English with
// plain words, digits and punctuation, so that text recognition has
// something realistic to read and the page has the grey texture of a letter.
#include "sources/virtual/pages/detail.h"

namespace vscan::pages {

const std::vector<std::string_view>& page_prose() {
  static const std::vector<std::string_view> kParagraphs = {
      "Every office keeps paper longer than it means to. Invoices arrive by post, "
      "contracts come back signed in blue ink, and delivery notes are stapled to the "
      "orders they close. Most of these sheets are read once, filed in a folder, and "
      "looked for again only when a question comes up months later.",

      "Scanning the paper when it arrives saves that search. A clerk places the stack "
      "in the feeder, the scanner reads both sides of each sheet, and the pages are "
      "stored as one document under the name of the customer or the project. The "
      "original can then go to the archive boxes in the basement.",

      "Good scans start with simple habits. Remove staples and paper clips before "
      "feeding the sheets, straighten folded corners, and keep receipts and small "
      "notes apart from the letters. A page that enters the feeder at an angle can "
      "still be straightened by the software, but a torn page cannot be repaired.",

      "Each batch should begin with a cover sheet that carries a barcode. The barcode "
      "tells the filing system where the batch belongs, so nobody has to type the "
      "account number by hand. Blank separator pages between documents are removed "
      "automatically, which keeps the files short and the archive tidy.",

      "Before the paper is destroyed, someone checks the result: the number of pages, "
      "the order of the pages, and whether every page can be read on the screen. "
      "Colour pages are kept in colour when the stamps or signatures matter; plain "
      "typed letters are stored in black and white, which makes the files much smaller.",

      "Retention rules still apply to the scanned copy. Tax records are kept for seven "
      "years, personnel files for as long as the law requires, and meeting minutes for "
      "good. The scanned document carries the same date and reference number as the "
      "paper it replaces, so an auditor can follow it from the ledger to the page.",

      "When the system works well, nobody notices it. Questions are answered in a "
      "minute instead of an afternoon, the shelves behind the reception desk are "
      "empty, and the only paper left in the office is the sheet waiting in the tray "
      "for the next scan.",
  };
  return kParagraphs;
}

}  // namespace vscan::pages
