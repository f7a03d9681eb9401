// Folder cards as cards. The card stack works on card images, so a folder
// card is made into one: our formatter lays out the card its superblock
// describes, block 0 takes the superblock file's bytes, and the saves are
// written in the folder's order by the same append that restores a save.
// The image lives in a private temporary file; when it changed, the saves
// are read back through the card stack and the folder is brought to match
// (formats::UpdateFolderCard). A card made this way from a folder that our
// own program wrote equals, byte for byte, the card the folder was made from.
#pragma once

#include <cstdint>
#include <string>

#include "formats/foldercard.h"
#include "formats/images.h"

namespace travosk::manager {

// Makes `image` (replaced if it exists) a PS2 image with 528-byte pages
// holding `card`. Throws FormatError for a superblock whose layout this
// system does not make or saves that do not fit, InOutError on a file error.
void ImageFromFolderCard(const formats::FolderCard& card, const std::string& image,
                         const std::string& work_folder);

// The PS2 card image's superblock, root time and saves, read through the
// card stack (the image is not written). Throws FormatError for a card a
// folder card cannot hold (a file in the root, a folder inside a save) or
// that cannot be read.
formats::FolderCard FolderCardFromImage(const std::string& image, const std::string& work_folder);

// `convert DIR/ CARD`: the folder card's card in the image layout `target`.
void ConvertFolderCardToImage(const std::string& dir, const std::string& image,
                              formats::ImageFormat target, const std::string& work_folder);
// `convert CARD DIR/`: a new folder card of the PS2 card image.
void ConvertImageToFolderCard(const std::string& image, const std::string& dir,
                              const std::string& work_folder);

// A folder card opened as a card image for as long as this lives.
class FolderCardImage {
 public:
  // Reads the folder and makes its image in `work_folder`; throws as
  // ReadFolderCard and ImageFromFolderCard do, leaving nothing behind.
  FolderCardImage(const std::string& dir, const std::string& work_folder);
  // Removes the image, unless a write-back failed: then it stays, so that
  // the changes are not lost.
  ~FolderCardImage();
  FolderCardImage(const FolderCardImage&) = delete;
  FolderCardImage& operator=(const FolderCardImage&) = delete;

  const std::string& ImagePath() const { return image_; }
  const std::string& Folder() const { return dir_; }
  // When the image changed since it was made (or last written back), the
  // folder is brought to match it; the image may be open in a session
  // meanwhile (its medium maps the file, so what it wrote is there). Throws FormatError or InOutError, the
  // folder then as it was or with some saves changed, each one whole.
  void WriteBack();

 private:
  std::string dir_;
  std::string work_folder_;
  std::string image_;
  formats::FolderCard card_;
  uint64_t digest_ = 0;
  bool keep_image_ = false;
};

}  // namespace travosk::manager
