/* Writes a Display P3 ICC profile to the file named: the DCI-P3 primaries with a D65 white and
 * the sRGB tone curve, built with Little CMS (a matrix/shaper profile, version 4). The colour
 * benchmark (bench/colour.sh) converts photos to it. Build: cc make_p3.c -o make_p3 -llcms2 */
#include <lcms2.h>
#include <stdio.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUT.icc\n", argv[0]);
    return 2;
  }
  const cmsCIExyY white = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries = {
      {0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
  /* The sRGB curve as parametric type 4: Y = (aX + b)^g for X >= d, else cX. */
  const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve *curve = cmsBuildParametricToneCurve(NULL, 4, srgb);
  cmsToneCurve *curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = curve ? cmsCreateRGBProfile(&white, &primaries, curves) : NULL;
  cmsMLU *description = cmsMLUalloc(NULL, 1);
  cmsMLU *copyright = cmsMLUalloc(NULL, 1);
  int ok = profile && description && copyright &&
           cmsMLUsetASCII(description, "en", "US", "Display P3") &&
           cmsMLUsetASCII(copyright, "en", "US", "No copyright, use freely") &&
           cmsWriteTag(profile, cmsSigProfileDescriptionTag, description) &&
           cmsWriteTag(profile, cmsSigCopyrightTag, copyright) &&
           cmsSaveProfileToFile(profile, argv[1]);
  if (!ok) fprintf(stderr, "%s: could not write %s\n", argv[0], argv[1]);
  if (copyright) cmsMLUfree(copyright);
  if (description) cmsMLUfree(description);
  if (profile) cmsCloseProfile(profile);
  if (curve) cmsFreeToneCurve(curve);
  return ok ? 0 : 1;
}
