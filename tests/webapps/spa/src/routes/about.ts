// Loaded only when the route is opened: its own chunk in the build.
export function render(): HTMLElement {
  const section = document.createElement("section");
  section.id = "about";
  const heading = document.createElement("h1");
  heading.textContent = "About";
  const text = document.createElement("p");
  text.textContent = `This route came from ${import.meta.url.split("/").pop()}`;
  section.append(heading, text);
  return section;
}
