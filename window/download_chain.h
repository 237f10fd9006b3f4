// The download chain as far as the page transfers call into it after each page: preparing the
// next page of the current document, moving on to the next chosen document, and the step after a
// document's last page of the range.
#pragma once

// Makes the given page (from 1) of the current document ready for transfer: its page bitmap,
// converted to the transfer settings, becomes the CurrentPageFile. Returns 1 or 0 (the failure
// has then been reported to the user).
int PreparePage(int page);
// Moves the batch to the next chosen document and prepares its first page of the range; when
// there is none, or it cannot be prepared, nothing stays pending.
void NextDocument();
// Run once a document's last page of the range has gone out.
void AfterDocument();
