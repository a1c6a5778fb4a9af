// The contact store's handle (liborvatessaro.so): users' address books of
// vCard 3.0 texts. One handle serves one request; handles are cheap to build.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class DBHandler {
 public:
  DBHandler();
  ~DBHandler();
  DBHandler(const DBHandler&) = delete;
  DBHandler& operator=(const DBHandler&) = delete;

  // The user's GUID, or "" when the store does not know the user.
  std::string GetGUID(std::string userName);
  // Sets the user up (an empty address book); afterwards GetGUID gives a GUID,
  // unless the name is one the store refuses (empty, '/', a control
  // character, invalid UTF-8, a blank at either end, leading '.', trailing
  // '~'): such a name stays an unknown user.
  void SetupUserBasicInfo(std::string userName);
  // A fresh, unique resource name for a new card. The store refuses, in every
  // call, resource names that are empty, hold '/' or NUL, begin with '.' or
  // end with '~'.
  std::string GetUUID();
  // Appends the user's cards to ids (resource names) and texts (vCard texts),
  // in resource-name order; returns their count, 0 for an unknown GUID.
  int GetCards(Json::Value& ids, Json::Value& texts, std::string guid);
  // The cards at positions offset to offset + limit - 1 (to the end when
  // limit is negative) of the order GetCards gives, appended to ids and
  // texts; the others are not read. Returns the number of cards in the whole
  // book, 0 for an unknown GUID.
  int GetCardWindow(Json::Value& ids, Json::Value& texts, std::string guid, int offset, int limit);
  // Stores a new card; false when the name is taken, the GUID unknown or the
  // text not exactly one loadable vCard.
  bool AddCard(std::string guid, std::string resourceName, std::string vcardText);
  // Replaces an existing card; false when it does not exist or as AddCard.
  bool UpdateCard(std::string guid, std::string resourceName, std::string vcardText);
  // Deletes an existing card; false when it does not exist.
  bool DelCard(std::string guid, std::string resourceName);
  // Writes the card's text to "<resource name>.vcf" in the user's export
  // folder; false when the card does not exist or the file cannot be written.
  bool ExportData(std::string guid, std::string resourceName);

  // Versions of cards, so that no edit silently overwrites another. A
  // card's version changes whenever its bytes change.

  // What a versioned change did.
  enum class Outcome {
    kDone,     // written (or deleted)
    kChanged,  // nothing done: the card's version is no longer the expected one
    kRefused,  // nothing done, as the unversioned call's false
  };
  // The version of a card text, as GetCard and the versioned calls give it.
  static std::string VersionOf(const std::string& vcardText);
  static std::string VersionOf(const char* vcardText, std::size_t size);
  // The card's text and version; false when it does not exist.
  bool GetCard(std::string guid, std::string resourceName, std::string& vcardText,
               std::string& version);
  // UpdateCard, done only while the stored card has expectedVersion: the
  // check and the write hold one exclusive lock. On kChanged, version holds
  // the stored card's version ("" when it no longer exists).
  Outcome UpdateCardIfVersion(std::string guid, std::string resourceName, std::string vcardText,
                              std::string expectedVersion, std::string& version);
  // DelCard, likewise.
  Outcome DelCardIfVersion(std::string guid, std::string resourceName, std::string expectedVersion,
                           std::string& version);

  // ---- Why a card was not stored: an import skips a card the store refuses
  // and stops when the store cannot write. ----
  enum class CardFault {
    kNone,         // the handle's last AddCard or UpdateCard stored the card
    kTextRefused,  // the text is not one loadable vCard; nothing changed
    kNameRefused,  // unknown GUID, a resource name refused, taken (AddCard) or missing (UpdateCard)
    kNotWritten,   // the store could not write: no space, an I/O error, its lock, its folders
  };
  // Why the handle's last AddCard or UpdateCard returned false; kNone after
  // one that returned true or before any.
  CardFault LastCardFault() const;
  // New cards as AddCard stores them, for an import: all under one hold of
  // the store's lock and made durable together (one sync of the file system,
  // then one of the book's folder, not one per card). cards holds (resource
  // name, text) pairs; faults gets one entry per card, in order: kNone
  // (stored), kTextRefused (logged, nothing written), or kNameRefused or
  // kNotWritten, after which no later card is written (kNotWritten). Returns
  // only when every stored card is durable; a crash before leaves each card
  // whole or absent.
  void AddCards(std::string guid, const std::vector<std::pair<std::string, std::string>>& cards,
                std::vector<CardFault>& faults);

  // Where imported cards came from: the UID each card had in the file it was
  // imported from (its source UID), with the resource name it was stored
  // under, kept beside the book, so that a later import of the same cards
  // can find them.

  // The book's source UIDs, as an object from source UID to resource name
  // (empty when there are none); false for an unknown GUID.
  bool GetImportSources(std::string guid, Json::Value& sources);
  // Adds (or replaces) the given source UIDs; false when they cannot be kept.
  bool AddImportSources(std::string guid, const Json::Value& sources);

  // Who makes this handle's changes, as a book's history shows it; every
  // change of one handle is one change there. "administration page" unless
  // set (an import sets "import of FILE").
  void SetChangeMaker(std::string maker);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
