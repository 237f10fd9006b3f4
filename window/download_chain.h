// The download chain: "&Download" turns the documents chosen on the storage browser page into a
// batch of page transfers, and after each page the transfers call back here for the next page,
// the next chosen document, and the step after a document's last page of the range.
#pragma once

// The "&Download" command, Enter on the page and a double click on a list item: the first
// chosen document's first page of the range is prepared and the application told, or the
// source asks to be closed when that page cannot be prepared. Nothing happens without a chosen
// document.
void StartDownload();
// Makes the given page (from 1) of the document of CurrentItem ready for transfer: the document
// is fetched (once per batch) and its page bitmap, converted to the transfer settings, becomes
// the CurrentPageFile. Returns 1 or 0 (the failure has then been reported to the user).
int PreparePage(int page);
// Builds that page of the document at CurrentDocumentPath with the transfer settings as the page
// to send. Returns 1, or 0 once the failure has been shown to the user.
int BuildTransferPage(int page);
// Moves the batch to the next chosen document and prepares its first page of the range; when
// there is none, or it cannot be prepared, nothing stays pending.
void NextDocument();
// Run once a document's last page of the range has gone out: deletes it on the device when
// "De&lete after download" is on.
void AfterDocument();
// The pages the batch will send, counted for the progress window: each document's own range,
// from the first document to the last the batch reaches, within the application's page limit.
int ProgressTotal();
