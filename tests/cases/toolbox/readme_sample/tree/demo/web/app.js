// Counts the words of the text area as the user types.
const area = document.querySelector("textarea");
const shown = document.querySelector("#count");

area.addEventListener("input", () => {
  const words = area.value.split(/\s+/).filter(Boolean);
  shown.textContent = `${words.length} words`;
});
