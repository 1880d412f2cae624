// PLACEHOLDER so the page library has a source until the page generator
// lands; deleted by its author.
namespace vscan {}
