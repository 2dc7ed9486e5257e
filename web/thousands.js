// A whole number with its thousands marked by commas, "4,600" as Intl.NumberFormat('en') writes
// it. The page does not make a number format: the first one loads the browser's locale data,
// which held a phone's first visit up by a quarter of a second before the game could start.
export const thousands = (n) => String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
