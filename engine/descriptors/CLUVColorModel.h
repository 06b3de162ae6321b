// Per-region colour model: L*u*v* shades, the weighted dominant shades and distances between models.
#pragma once

#include <cstdint>
#include <cstdio>

#include "veskar_export.h"

// One shade of a model; the nodes form a singly linked list owned by the model.
struct ColorShade {
  std::uint32_t numbOfPixels = 0;
  double pi = 0.0;  // share of the dominant pixels, meaningful in a dominant list only
  double L = 0.0;
  double u = 0.0;
  double v = 0.0;
  bool bAvailable = true;  // not yet taken by the dominant-shade extraction
  ColorShade* next = nullptr;
};

class VESKAR_EXPORT CLUVColorModel {
  friend class M_RSST;  // the link costs read the dominant shades and weights directly

 public:
  CLUVColorModel();
  ~CLUVColorModel();
  // Each model owns its nodes; nothing copies a model, so copying is refused
  // rather than letting two models free the same lists.
  CLUVColorModel(const CLUVColorModel&) = delete;
  CLUVColorModel& operator=(const CLUVColorModel&) = delete;

  void addShade(double L, double u, double v, int n);
  void addColorModel(CLUVColorModel* other);
  double calcDistanceWith(CLUVColorModel* other);
  double calcDistanceWithO(CLUVColorModel* other);
  void getAverageColor(ColorShade* list, double& L, double& u, double& v);
  double getAvgSaturation();
  int getTotalNumbOfPixels();
  ColorShade* getFullShadeList();
  ColorShade* getDominantShadeList();
  int resetModel();
  void printShadeLists(FILE* file);

 private:
  void addShade2List(ColorShade** head, ColorShade** tail, double L, double u, double v, int n);
  void extractDominantShades(ColorShade* full, ColorShade** head, ColorShade** tail);
  void normalizePis(ColorShade* list, unsigned long n);
  void updateTotal_psqr(ColorShade* list);
  double sumOfMultipl(ColorShade* a, ColorShade* b);
  double calc_aij(ColorShade* i, ColorShade* j);
  double calcAverageSaturation(ColorShade* list);
  int deallocateShadeList(ColorShade** head, ColorShade** tail);

  void refreshModel();
  void takeDominantShade(ColorShade* shade, ColorShade** head, ColorShade** tail);

  std::uint32_t totalNumbOfPixels;
  std::uint32_t dominantNumbOfPixels;
  ColorShade* fullShadeList;
  ColorShade* fullShadeListTail;
  ColorShade* dominantShadeList;
  ColorShade* dominantShadeListTail;
  double psqr;
  double avgSaturation;
};
