// Injected into a copy of the help page: after the page has loaded, lists every
// image that did not load and every link whose file or section is missing, and
// appends the verdict to the page for the dump of its DOM.
window.addEventListener('load', () => {
  const problems = [];
  for (const img of document.images)
    if (!img.complete || img.naturalWidth === 0) problems.push('missing image ' + img.getAttribute('src'));
  // A figure's white pixels must stand out from the page: the image needs an edge
  // or a tinted mat around it, as the browser draws it.
  const tone = (c) => (c === 'rgba(0, 0, 0, 0)' || c === 'transparent' ? 'rgb(255, 255, 255)' : c);
  const page = tone(getComputedStyle(document.body).backgroundColor);
  for (const img of document.querySelectorAll('figure img')) {
    const s = getComputedStyle(img);
    const edge = parseFloat(s.borderTopWidth) > 0 && s.borderTopStyle !== 'none' && tone(s.borderTopColor) !== page;
    const mat = parseFloat(s.paddingTop) > 0 && tone(s.backgroundColor) !== page;
    if (!edge && !mat) problems.push('figure on the bare page ' + img.getAttribute('src'));
  }
  const here = new URL(document.URL);
  here.hash = '';
  let links = 0;
  for (const a of document.querySelectorAll('a[href]')) {
    const url = new URL(a.getAttribute('href'), document.baseURI);
    if (url.protocol !== 'file:') continue;  // nothing outside the help folder is checked
    ++links;
    const section = decodeURIComponent(url.hash.slice(1));
    url.hash = '';
    let doc = document;
    if (url.href !== here.href) {
      const request = new XMLHttpRequest();
      try {
        request.open('GET', url.href, false);
        request.send();
        doc = new DOMParser().parseFromString(request.responseText, 'text/html');
      } catch (error) {
        problems.push('broken link ' + a.getAttribute('href'));
        continue;
      }
    }
    if (section && !doc.getElementById(section)) problems.push('broken link ' + a.getAttribute('href'));
  }
  const verdict = document.createElement('pre');
  verdict.textContent = problems.length ? 'HELP-CHECK FAILED: ' + problems.join('; ')
                                        : `HELP-CHECK OK: ${document.images.length} images, ${links} links`;
  document.body.append(verdict);
});
